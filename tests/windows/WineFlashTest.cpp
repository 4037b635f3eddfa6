// kestrel-flash.exe under Wine, end to end against the native kestrel-box on a
// COM port of the Windows build's prefix mapped to the box's pseudo-terminal:
// the fault table the Linux matrix runs, then what only the Windows program
// has. Built natively; the Windows build's ctest runs each row as its own test
// (WineRows.cmake), with the prefix and the programs in the environment.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "CliSupport.h"
#include "FaultRows.h"

namespace kestrel::testing {
namespace {

// A Windows program's start under a running wineserver, on a loaded machine.
constexpr double kWineStart = 4;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// This machine's root is drive Z: to a Windows program.
std::string WinPath(const std::string& path) { return "Z:" + path; }

// kestrel-flash.exe, or a copy of it, under Wine, with no console input.
ProcessResult FlashExe(Lines args, ProcessOptions options = {std::chrono::seconds(60)},
                       const std::string& exe = Environment("KESTREL_FLASH_EXE")) {
    args.insert(args.begin(), {Environment("KESTREL_WINE"), WinPath(exe)});
    options.crlf = true;
    options.inChild = [] { ::dup2(::open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO); };
    return RunProcess(args, options);
}

// A COM number of the shared prefix, 40 or above, leading to `target`: the first
// one free, taken by making its link, which fails on a number another row took.
// Before any program opens it, the target must be this test's own
// pseudo-terminal or no device at all, and no COM number of the prefix may lead
// to a real port (scripts/wine-prefix check). Given back at the end.
class ComPort {
public:
    explicit ComPort(const std::string& target) {
        const std::string dosDevices = Environment("WINEPREFIX") + "/dosdevices/com";
        for (int number = 40; number <= 256 && name.empty(); ++number) {
            if (::symlink(target.c_str(), (dosDevices + std::to_string(number)).c_str()) == 0) {
                name = "COM" + std::to_string(number);
                link_ = dosDevices + std::to_string(number);
            }
        }
        const std::string resolved = std::filesystem::weakly_canonical(target).string();
        safe_ = !name.empty() && (resolved.starts_with("/dev/pts/") || !resolved.starts_with("/dev/")) &&
                RunProcess({KESTREL_WINE_PREFIX_SCRIPT, "check", Environment("WINEPREFIX")}).exitStatus == 0;
    }
    ~ComPort() {
        if (!link_.empty())
            ::unlink(link_.c_str());
    }
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    bool Safe() const { return safe_; }
    std::string name;

private:
    std::string link_;
    bool safe_ = false;
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
    ASSERT_TRUE(com.Safe());
    const auto run = FlashExe({"-q", "--timeout", f.timeout, "-p", com.name, WinPath(kMot)},
                              {std::chrono::seconds(60), {}, f.signalAfter, f.signal});
    EXPECT_EQ(run.exitStatus, f.exitStatus) << run.out << run.err;
    EXPECT_EQ(run.LastOutLine(), f.lastLine) << run.out;
    EXPECT_LT(run.seconds, f.boundSeconds + kWineStart);
    EXPECT_TRUE(PortOpensAgain(box.linkPath));
}

INSTANTIATE_TEST_SUITE_P(Rows, WineFaultMatrix, ::testing::ValuesIn(FaultRows()), FaultRowName);

struct Sample {
    std::string file;
    std::string type;  // the firmware type the box announces
    std::string line;  // the line settings it sees
};

class WineSample : public WineTest, public ::testing::WithParamInterface<Sample> {};

TEST_P(WineSample, FlashesWithTheLinuxStatusLinesTheDumpedImageAtItsLineSettings) {
    const Sample& s = GetParam();
    BoxProcess box({"--type", s.type}), linuxBox({"--type", s.type});
    const ComPort com(box.linkPath);
    ASSERT_TRUE(com.Safe());
    const auto run = FlashExe({"-q", "-p", com.name, WinPath(s.file)});
    const std::string dumped = (dir.Path() / "dumped.img").string();
    ASSERT_EQ(Flash({"--dump-image", dumped, s.file}).exitStatus, 0);
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_EQ(run.out, Flash({"-q", "-p", linuxBox.linkPath, s.file}).out);
    EXPECT_EQ(box.SavedImage(1), ReadFile(dumped));
    EXPECT_NE(box.Stop().find("line " + s.line), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Samples, WineSample,
                         ::testing::Values(Sample{kMot, "1", "115200 baud, 8N2"}, Sample{kBin, "2", "38400 baud, 8N2"}),
                         [](const auto& sample) { return sample.param.type == "1" ? "mot_sample" : "bin_sample"; });

using WineFlash = WineTest;

TEST_F(WineFlash, WaitTakesAMappedPortAtOnceAndGivesUpOnOneLeadingNowhereAtItsBound) {
    BoxProcess box;
    const ComPort com(box.linkPath), absent(nowhere);
    ASSERT_TRUE(com.Safe() && absent.Safe());
    const auto there = FlashExe({"-q", "--wait", "--wait-timeout", "5", "-p", com.name, WinPath(kMot)});
    EXPECT_EQ(there.LastOutLine(), "FLASHING SUCCESSFULL") << there.err;
    const auto run = FlashExe({"-q", "--wait", "--wait-timeout", "1", "-p", absent.name, WinPath(kMot)});
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_NE(run.err.find(absent.name + ": not there in time"), std::string::npos) << run.err;
}

TEST_F(WineFlash, EmulatesAFileAtAPathBeyondAsciiAndLogsThatPath) {
    const std::string firmware = dir.Write("Prüfung ü.mot", ReadFile(kMot));
    const std::string log = (dir.Path() / "Prüfung.log").string();
    const auto run = FlashExe({"-q", "--emulate", WinPath(firmware), "--log", WinPath(log)});
    EXPECT_EQ(run.LastOutLine(), "FLASHING SUCCESSFULL") << run.err;
    EXPECT_TRUE(std::regex_search(ReadFile(log), std::regex("(^|\n)file: .*Prüfung ü\\.mot\n"))) << ReadFile(log);
}

TEST_F(WineFlash, UsbWithoutTheD2xxLibrarySaysToUseTheComPort) {
    const auto run = FlashExe({"-q", "-p", "USB", WinPath(kMot)});
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(run.LastOutLine(), "Error: cannot open Ixo Serial Device");
    EXPECT_TRUE(std::regex_search(run.err, std::regex("FTDI D2XX driver is not installed.*COM port with -p COMn")))
        << run.err;
}

// The stand-in D2XX library beside a copy of the program serves the USB box.
TEST_F(WineFlash, GangOverAComPortADeviceNameAndAUsbBoxLogsEachDownloadChained) {
    const auto program = dir.Path() / "program";
    std::filesystem::create_directories(program);
    std::filesystem::create_directories(dir.Path() / "images");
    for (const std::string& file : {Environment("KESTREL_FLASH_EXE"), Environment("KESTREL_D2XX_DLL")})
        std::filesystem::copy_file(file, program / std::filesystem::path(file).filename());
    ::setenv("KESTREL_D2XX_BOXES", "A1", 1);
    ::setenv("KESTREL_D2XX_IMAGES", WinPath((dir.Path() / "images").string()).c_str(), 1);
    BoxProcess first, second;
    const ComPort com(first.linkPath), device(second.linkPath);
    ASSERT_TRUE(com.Safe() && device.Safe());
    const std::string log = (dir.Path() / "gang.log").string(), dumped = (dir.Path() / "dumped.img").string();
    const auto run = FlashExe(
        {"-q", "-p", com.name, "-p", "\\\\.\\" + device.name, "-p", "USB:A1", "--log", WinPath(log), WinPath(kMot)},
        {std::chrono::seconds(60)}, (program / "kestrel-flash.exe").string());
    ASSERT_EQ(Flash({"--dump-image", dumped, kMot}).exitStatus, 0);
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    for (const std::string& image :
         {first.SavedImage(1), second.SavedImage(1), ReadFile((dir.Path() / "images" / "A1.img").string())})
        EXPECT_EQ(image, ReadFile(dumped));
    const std::string written = ReadFile(log);
    const Lines lines = SplitLines(written);
    const auto records = std::count_if(lines.begin(), lines.end(), [](const auto& l) { return l.starts_with("=== "); });
    EXPECT_EQ(records, 6) << written;  // a started and a result record each
    EXPECT_EQ(written.find('\r'), std::string::npos);
    EXPECT_EQ(Flash({"--verify-log", log}).exitStatus, 0);
}

}  // namespace
}  // namespace kestrel::testing
