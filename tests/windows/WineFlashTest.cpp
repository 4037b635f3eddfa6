// kestrel-flash.exe under Wine, end to end against the native kestrel-box on a
// COM port of the Windows build's prefix mapped to the box's pseudo-terminal:
// the fault table the Linux matrix runs, then what only the Windows program
// has. Built natively; the Windows build's ctest runs each row as its own test
// (WineRows.cmake), with the prefix and the programs in the environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "CliSupport.h"
#include "FaultRows.h"
#include "support/Eventually.h"

namespace kestrel::testing {
namespace {

// A Windows program's start under a running wineserver, on a loaded machine.
constexpr double kWineStart = 4;

std::string Environment(const char* name) { return std::getenv(name) ? std::getenv(name) : ""; }

// This machine's root is drive Z: to a Windows program.
std::string WinPath(const std::string& path) { return "Z:" + path; }

// A folder of its own in `dir` with copies of `files`: a copy of the program is found by its own path, and a library
// beside it is the one it loads.
std::filesystem::path ProgramFolder(const TempDir& dir, const Lines& files) {
    const auto program = dir.Path() / "program";
    std::filesystem::create_directories(program);
    for (const std::string& file : files)
        std::filesystem::copy_file(file, program / std::filesystem::path(file).filename());
    return program;
}

// kestrel-flash.exe, or a copy of it, under Wine, with no console input; its text without carriage returns.
ProcessResult FlashExe(Lines args, ProcessOptions options = {std::chrono::seconds(60)},
                       const std::string& exe = Environment("KESTREL_FLASH_EXE")) {
    args.insert(args.begin(), {Environment("KESTREL_WINE"), WinPath(exe)});
    options.inChild = [] { ::dup2(::open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO); };
    options.signalAfter = options.signalAfter.substr(0, options.signalAfter.find('\n'));  // its lines end in "\r\n"
    ProcessResult result = RunProcess(args, options);
    std::erase(result.out, '\r'), std::erase(result.err, '\r');
    return result;
}

// A COM number of the shared prefix, 40 or above, leading to `target`: the first
// one free, taken by making its link, which fails on a number another row took.
// Before any program opens it, the target must be this test's own
// pseudo-terminal or no device at all, and no COM number of the prefix may lead
// to a real port (scripts/wine-prefix check). Given back at the end.
struct ComPort {
    explicit ComPort(const std::string& target) {
        const std::string dosDevices = Environment("WINEPREFIX") + "/dosdevices/com";
        for (int number = 40; number <= 256 && name.empty(); ++number)
            if (::symlink(target.c_str(), (dosDevices + std::to_string(number)).c_str()) == 0)
                std::tie(name, link) = std::pair{"COM" + std::to_string(number), dosDevices + std::to_string(number)};
        const std::string resolved = std::filesystem::weakly_canonical(target).string();
        safe = !name.empty() && (resolved.starts_with("/dev/pts/") || !resolved.starts_with("/dev/")) &&
               RunProcess({KESTREL_WINE_PREFIX_SCRIPT, "check", Environment("WINEPREFIX")}).exitStatus == 0;
    }
    ~ComPort() { ::unlink(link.c_str()); }

    std::string name, link;
    bool safe = false;
};

class WineTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (Environment("KESTREL_FLASH_EXE").empty() || Environment("WINEPREFIX").empty())
            GTEST_SKIP() << "run by the Windows build's ctest, which names the prefix and the programs";
    }
    TempDir dir;
    const std::string nowhere = (dir.Path() / "no-port-here").string();
};

class WineFaultMatrix : public WineTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(WineFaultMatrix, EndsAsOnLinux) {
    const Fault& f = GetParam();
    if (!f.wineCannot.empty())
        GTEST_SKIP() << f.wineCannot;
    BoxProcess box(f.box);
    const ComPort com(f.port.empty()     ? box.linkPath
                      : f.port == "file" ? dir.Write("not-a-terminal", std::string("x"))
                                         : nowhere);
    ASSERT_TRUE(com.safe);
    const auto run = FlashExe({"-q", "--timeout", f.timeout, "-p", com.name, WinPath(kMot)},
                              {std::chrono::seconds(60), {}, f.signalAfter, f.signal});
    EXPECT_EQ(run.exitStatus, f.exitStatus) << run.out << run.err;
    EXPECT_EQ(run.LastOutLine(), f.lastLine) << run.out;
    EXPECT_LT(run.seconds, f.boundSeconds + kWineStart);
}

INSTANTIATE_TEST_SUITE_P(Rows, WineFaultMatrix, ::testing::ValuesIn(FaultRows()), FaultRowName);

using WineFlash = WineTest;

// A binary file into a box of type 2, at that type's line settings; --wait finds the port at once. The
// S-record file into boxes of type 1: the gang below.
TEST_F(WineFlash, FlashesABinaryFileIntoATypeTwoBoxAtItsLineSettings) {
    BoxProcess box({"--type", "2"});
    const ComPort com(box.linkPath);
    ASSERT_TRUE(com.safe);
    const auto run = FlashExe({"-q", "--wait", "--wait-timeout", "5", "-p", com.name, WinPath(kBin)});
    const std::string dumped = (dir.Path() / "dumped.img").string();
    ASSERT_EQ(Flash({"--dump-image", dumped, kBin}).exitStatus, 0);
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_EQ(box.SavedImage(1), ReadFile(dumped));
    EXPECT_NE(box.Stop().find("line 38400 baud, 8N2"), std::string::npos);
}

// Names beyond ASCII as they are, given on the command line (the firmware's path, the report's log) and through
// the environment, which Windows keeps in UTF-16: read in the local code page instead, the operator would reach the
// log as other bytes, and the log be another file. Excel reads a CSV file without a byte order mark in the local
// code page: the report's starts with one.
TEST_F(WineFlash, NamesBeyondAsciiReachTheRecordsAndTheReportAsTheyAre) {
    const std::string firmware = dir.Write("Prüfung ü.mot", ReadFile(kMot)),
                      log = (dir.Path() / "Prüfung.log").string(), csv = (dir.Path() / "yield.csv").string();
    ::setenv("KESTREL_OPERATOR", "Jürgen Müller", 1);
    ::setenv("KESTREL_LOG", WinPath(log).c_str(), 1);
    const auto run = FlashExe({"-q", "--emulate", WinPath(firmware)});
    ::unsetenv("KESTREL_OPERATOR");
    ::unsetenv("KESTREL_LOG");
    EXPECT_EQ(run.LastOutLine(), "FLASHING SUCCESSFULL") << run.err;
    const std::string written = ReadFile(log);
    EXPECT_TRUE(std::regex_search(written, std::regex("(^|\n)file: .*Prüfung ü\\.mot\n")) &&
                written.find("\noperator: Jürgen Müller\n") != std::string::npos)
        << written;
    ASSERT_EQ(FlashExe({"--report", WinPath(log), "--csv", WinPath(csv)}).exitStatus, 0);
    const std::string table = ReadFile(csv);
    EXPECT_TRUE(table.starts_with("\xEF\xBB\xBFlot,") && table.find(",Jürgen Müller,") != std::string::npos) << table;
}

// Windows ends a console program 5 s after it told it that its window closed, the
// user signs out or the machine shuts down, or once its handler returned: the
// download is cancelled and its cancelled record written within that time.
class WineConsoleEnd : public WineTest, public ::testing::WithParamInterface<std::pair<int, const char*>> {};

TEST_P(WineConsoleEnd, WaitsForTheCancelledRecord) {
    // A path of its own, by which the event finds this process.
    const std::string exe = (ProgramFolder(dir, {Environment("KESTREL_FLASH_EXE")}) / "kestrel-flash.exe").string(),
                      log = (dir.Path() / "end.log").string();
    BoxProcess box({"--erase-ms", "20000"});
    const ComPort com(box.linkPath);
    ASSERT_TRUE(com.safe);
    const pid_t flash =
        Spawn({Environment("KESTREL_WINE"), WinPath(exe), "-q", "-p", com.name, "--log", WinPath(log), WinPath(kMot)},
              (dir.Path() / "out").string(), (dir.Path() / "err").string(),
              [] { ::dup2(::open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO); });
    Eventually([&log] { return ReadFile(log).find("record: started") != std::string::npos; }, std::chrono::seconds(30));
    ::usleep(500000);  // into the erase
    const auto told = RunProcess({Environment("KESTREL_WINE"), WinPath(Environment("KESTREL_CONSOLE_EVENT_EXE")),
                                  WinPath(exe), std::to_string(GetParam().first)},
                                 {std::chrono::seconds(30)});
    if (!Eventually([flash] { return ::waitpid(flash, nullptr, WNOHANG) != 0; }, std::chrono::seconds(30))) {
        ::kill(flash, SIGKILL);
        ::waitpid(flash, nullptr, 0);
    }
    EXPECT_TRUE(std::regex_search(ReadFile(log), std::regex("\nrecord: result\n(.*\n)*result: cancelled")))
        << told.out << ReadFile(log);
}

// Windows' numbers of the console events that end a program, each with its name.
INSTANTIATE_TEST_SUITE_P(Events, WineConsoleEnd,
                         ::testing::Values(std::pair{2, "console_window_closed"}, std::pair{5, "signing_out"},
                                           std::pair{6, "shutting_down"}),
                         [](const auto& event) { return std::string(event.param.second); });

// What goes wrong said on stderr in Windows' words: a missing file in Windows' words, not POSIX's, after its name
// as typed, in UTF-8 into a pipe; --wait on a port leading nowhere, at its bound; USB without the D2XX library
// beside the program, pointing to the box's COM port; --db in this build without a database client, before any
// box (nothing on stdout).
TEST_F(WineFlash, ErrorLinesSpeakWindows) {
    const ComPort absent(nowhere);
    ASSERT_TRUE(absent.safe);
    for (const auto& [args, status, said] : std::vector<std::tuple<Lines, int, std::string>>{
             {{"-q", "--wait", "--wait-timeout", "1", "-p", absent.name, WinPath(kMot)},
              3,
              absent.name + ": not there in time"},
             {{"-q", "--emulate", WinPath((dir.Path() / "Prüfung Müller.mot").string())},
              4,
              "Prüfung Müller\\.mot: (File not found|The system cannot find)"},
             {{"-q", "-p", "USB", WinPath(kMot)}, 3, "FTDI D2XX driver is not installed.*COM port with -p COMn"},
             {{"-q", "--emulate", "--db", "postgresql://db/kestrel", WinPath(kMot)},
              2,
              "^kestrel-flash: a records database \\(--db\\) is not available on this platform\n$"}}) {
        const auto run = FlashExe(args);
        EXPECT_EQ(run.exitStatus, status) << run.err;
        EXPECT_TRUE(std::regex_search(run.err, std::regex(said))) << run.err;
        EXPECT_TRUE(status != 2 || run.out.empty()) << run.out;
        EXPECT_LT(run.seconds, 1 + kWineStart);  // the longest, the wait's bound
    }
}

// Manifests as Windows' tools write them: with a byte order mark (Notepad), in
// UTF-16 of either order (PowerShell's redirection), certutil -hashfile's output
// (the digest's bytes apart by blanks in older Windows); one that cannot be read
// says how it was read and which line, one that is no text says so.
TEST_F(WineFlash, ApprovedManifestsAsWindowsToolsWriteThem) {
    const std::string digest = RunProcess({"/usr/bin/sha256sum", kMot}).out.substr(0, 64);
    const auto utf16 = [](const std::string& text, bool bigEndian = false) {
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (const char c : text)
            bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
        return bytes;
    };
    const std::string pairs = std::regex_replace(digest, std::regex("(..)(?!$)"), "$1 ");
    const auto approve = [&](const std::string& manifest) {
        return FlashExe({"-q", "--emulate", "--approved", WinPath(dir.Write("m.sha256", manifest)), WinPath(kMot)});
    };
    for (const std::string& manifest :
         {"\xEF\xBB\xBF" + digest + "  kestrel-demo.mot\r\n", utf16(digest + " *kestrel-demo.mot\r\n"),
          utf16(digest + "  kestrel-demo.mot\n", true),
          "SHA256 hash of kestrel-demo.mot:\r\n" + digest +
              "\r\nCertUtil: -hashfile command completed successfully.\r\n",
          utf16("SHA256 hash of file kestrel-demo.mot:\r\n" + pairs + "\r\nCertUtil: done.\r\n")})
        EXPECT_EQ(approve(manifest).exitStatus, 0) << manifest;
    const auto refused = approve(utf16(digest + "\r\nnot a digest\r\n"));
    EXPECT_EQ(refused.exitStatus, 2);
    EXPECT_TRUE(std::regex_search(refused.err, std::regex("m\\.sha256:2: \"not a digest\" .*read as UTF-16LE")))
        << refused.err;
    EXPECT_NE(approve(std::string("\xFF\xFE\x61", 3)).err.find("is not text"), std::string::npos);
}

// The stand-in D2XX library beside a copy of the program serves the USB box; --wait finds each at once, and the
// boxes of type 1 see their line settings.
TEST_F(WineFlash, GangOverAComPortADeviceNameAndAUsbBoxLogsEachDownloadChained) {
    const auto program = ProgramFolder(dir, {Environment("KESTREL_FLASH_EXE"), Environment("KESTREL_D2XX_DLL")});
    std::filesystem::create_directories(dir.Path() / "images");
    ::setenv("KESTREL_D2XX_BOXES", "A1", 1);
    ::setenv("KESTREL_D2XX_IMAGES", WinPath((dir.Path() / "images").string()).c_str(), 1);
    BoxProcess first, second;
    const ComPort com(first.linkPath), device(second.linkPath);
    ASSERT_TRUE(com.safe && device.safe);
    const std::string log = (dir.Path() / "gang.log").string(), dumped = (dir.Path() / "dumped.img").string();
    const auto run = FlashExe({"-q", "--wait", "--wait-timeout", "5", "-p", com.name, "-p", "\\\\.\\" + device.name,
                               "-p", "USB:A1", "--log", WinPath(log), WinPath(kMot)},
                              {std::chrono::seconds(60)}, (program / "kestrel-flash.exe").string());
    ASSERT_EQ(Flash({"--dump-image", dumped, kMot}).exitStatus, 0);
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    for (const std::string& image :
         {first.SavedImage(1), second.SavedImage(1), ReadFile((dir.Path() / "images" / "A1.img").string())})
        EXPECT_EQ(image, ReadFile(dumped));
    const std::string written = ReadFile(log);  // a started and a result record each, with line feeds alone
    EXPECT_EQ(std::ranges::count_if(SplitLines(written), [](const auto& l) { return l.starts_with("=== "); }), 6);
    EXPECT_EQ(written.find('\r'), std::string::npos);
    EXPECT_EQ(Flash({"--verify-log", log}).exitStatus, 0);
    EXPECT_NE(first.Stop().find("line 115200 baud, 8N2"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::testing
