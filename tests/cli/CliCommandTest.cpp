// kestrel-flash's command lines as a script runs them: what each ends with on
// stdout, its exit status and the reason on stderr; --dump-image and --check.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>

#include <filesystem>

#include "CliSupport.h"
#include "support/FakeUsbTty.h"
#include "support/Firmware.h"

namespace kestrel::testing {
namespace {

// In the child: a file grows to `bytes` and no further, a write past that failing as on a full disk.
std::function<void()> FilesUpTo(rlim_t bytes) {
    return [bytes] {
        const rlimit limit{bytes, bytes};
        if (::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(126);
    };
}

TEST(KestrelFlashCommand, EachCommandLineEndsWithItsLinesAndItsStatus) {
    FirmwareFiles f;
    const std::string out = f.dir.Write("out.img", std::string("an image of an older build"));
    const FakeUsbTty tty("");  // a device and a link to it are one port, whatever the names
    std::filesystem::create_symlink(f.mot, f.Path("mot-link"));
    // What the download takes silently, --check reports (each finding is the readers' tests'): here an overlap.
    const std::string findings =
        f.dir.Write("findings.mot", S2Line(0xE0000, Bytes(16, 0x11)) + S2Line(0xE0008, Bytes(4, 0x33)) +
                                        SRecordLine('8', 0xE0000, nullptr, 0));
    const Lines check = {"--check", "--dump-image", f.Path("checked.img"), findings};
    const auto stdoutTo = [](int fd) { return [fd] { ::dup2(fd, STDOUT_FILENO); }; };
    int brokenPipe[2];
    ASSERT_EQ(::pipe(brokenPipe), 0);
    ::close(brokenPipe[0]);  // the reader went away
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    // An image or a record is written whole or not at all: on a full disk the old image and the log stay as they were.
    const std::string old(4096, 'o'), oldImage = f.dir.Write("old.img", old), oldLog = f.dir.Write("old.log", old);
    // Room for the started record, none for the result; stdout, a file as well, stays below the limit.
    const std::string bigOld(1 << 16, 'o'), jsonLog = f.dir.Write("json.log", bigOld);
    const std::string manifest = f.dir.Write("m.sha256", std::string(64, 'a') + "  any.mot\n");
    const std::string olderLog =
        f.dir.Write("older.log", std::string("=== 2025-01-02 Kestrel Loader 1.0\nport: COM1\n\n"));
    const auto diskFullAtOnce = FilesUpTo(old.size() + 16), diskFull = FilesUpTo(old.size() + 900);
    struct Row {
        Lines args;
        int status;
        std::string out;    // the last lines on stdout; none at all when empty and the status is not 0
        std::string err{};  // in stderr
        std::function<void()> inChild{};
    };
    const std::string noFile = "No such file or directory", flashed = "FLASHING SUCCESSFULL\n";
    const std::string noPort = "Error: cannot open comport\n", a = f.Path("a"), b = f.Path("b");
    // Options from the environment, set in the child: taken where the command line leaves them out and fits them.
    const auto env = [](const char* name, std::string value) {
        return [name, value] { ::setenv(name, value.c_str(), 1); };
    };
    const std::string dir = f.dir.Path().string(), fifo = f.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string forcedS3 = f.Path("forced-s3.mot");  // what objcopy writes when asked for 32-bit records
    ASSERT_EQ(RunProcess({"/usr/bin/objcopy", "-I", "srec", "-O", "srec", "--srec-forceS3", kMot, forcedS3}).exitStatus,
              0);
    const Lines emulated = {"-q", "--emulate", kMot};
    const std::vector<Row> rows = {
        {{"--dump-image", out, f.mot}, 0, "Building output data... \n"},
        {{"--dump-image", out, "/nonexistent/a.mot"}, 1, "\nError: cannot open sourcefile\n", noFile},
        // Downloads into the emulated box, over a pty or USB, its faults reaching the status.
        {{"-q", "--emulate=usb", kMot}, 0, flashed},
        {{"-q", "--emulate=corrupt-read-back", kMot}, 8, "\nError: data verify\n"},
        {{"-q", "--emulate", "/nonexistent/a.mot"}, 4, "\nError: cannot open sourcefile\n", noFile},
        // CI machines have no box: the real USB driver finds none and says why.
        {{"-q", "-p", "USB", kMot}, 3, "\nError: cannot open Ixo Serial Device\n", "kestrel-flash: "},
        {{"-p", f.Path("absent"), "--wait", "--wait-timeout", "0.5", kMot}, 3, "", "absent: not there in time"},
        {{"-p", "./absent", kMot}, 3, noPort, "./absent: " + noFile},  // a path in the current folder
        // What is no regular file is named so; nothing opened as a file blocks or says "Input/output error".
        {{"--dump-image", out, fifo}, 1, "\nError: cannot open sourcefile\n", fifo + ": not a regular file"},
        {{"--report", dir, "--lot", "L"}, 4, "", "cannot read the log " + dir + ": Is a directory"},
        {{"-q", "--emulate", "--approved", dir, kMot}, 2, "", "manifest " + dir + ": Is a"},
        // Usage errors, refused before anything is begun.
        {{}, 2, "", "FILE is required"},
        {{"--timeout", "nan", "a.mot"}, 2, "", "--timeout"},
        {{"--wait", "--wait-timeout", "soon", kMot}, 2, "", "--wait-timeout: not a number: soon"},
        {{"-p", "A", "--wait", "--wait-timeout", "1", kMot}, 2, "", "a device path, which holds a /: ./A"},
        // An empty value (an unset variable) or an option that does nothing here.
        {{"--dump-image", "", kMot}, 2, "", "--dump-image"},
        {{"-p", tty.path, "--emulate", kMot}, 2, "", "--emulate"},
        // Each mode takes its own options: a misuse names the two that clash, in the order of --help.
        {{"--all-usb", "-p", tty.path, kMot}, 2, "", "--port excludes --all-usb"},
        {{"--emulate", "--all-usb", kMot}, 2, "", "--emulate excludes --all-usb"},
        {{"--check", "--log", a, kMot}, 2, "", "--log excludes --check"},
        {{"--list-ports", kMot}, 2, "", "FILE excludes --list-ports"},
        {{"--verify-log", a, "--lot", "L"}, 2, "", "--lot excludes --verify-log"},
        {{"--since", "2025-01-02", kMot}, 2, "", "--since requires --report"},
        // The same port twice, the same file as source and image, a log that cannot be kept.
        {{"-p", tty.path, "-p", tty.link, kMot}, 2, "", "given twice"},
        {{"--dump-image", f.Path("mot-link"), f.mot}, 2, "", "the firmware file itself"},
        {{"--emulate", "--log", "/nonexistent/station.log", kMot}, 2, "", "/nonexistent/station.log: " + noFile},
        // Lines that stdout did not take: a class of their own, unless the download failed.
        {emulated, 10, "", "not every line", stdoutTo(full)},
        {{"--json", "--emulate", kMot}, 10, "", "not every line", stdoutTo(brokenPipe[1])},
        {{"-q", "--emulate=refuse-erase", kMot}, 6, "", "", stdoutTo(full)},
        {{"--dump-image", oldImage, kMot}, 1, "Building output data... \n", "cannot write " + oldImage, diskFull},
        {{"-q", "--emulate", "--log", oldLog, kMot}, 10, flashed, "the record of /dev/pts/", diskFull},
        // A started record that cannot be kept: no box is flashed without its trace, nor any after it.
        {{"-q", "--emulate", "--repeat", "3", "--log", f.dir.Write("full.log", old), kMot},
         10,
         "",
         "is lost: File too large; not flashed",
         diskFullAtOnce},
        // A log written into what the lot reads would be flashed in the next round.
        {{"--emulate", "--log", f.mot, f.mot}, 2, "", "the log " + f.mot + " is the firmware file itself"},
        {{"--emulate", "--approved", manifest, "--log", manifest, kMot}, 2, "", "is the approved manifest itself"},
        // Records of an older layout: said as they are, and a new chain begins after them.
        {{"--verify-log", f.dir.Write("empty.log", std::string())}, 1, "empty: no records\n"},
        {{"--verify-log", olderLog}, 1, "unchained: 1 records of an older layout, which carry no chain to check\n"},
        {{"-q", "--emulate", "--log", olderLog, kMot}, 0, flashed, "carries no chain"},
        {{"--verify-log", olderLog}, 0, "intact: 2 records after 1 records of an older layout, which carry no chain\n"},
        {{"-p", b, kMot}, 3, noPort, b + ": " + noFile, env("KESTREL_PORT", "/dev/a")},
        {{kMot}, 3, noPort, a + ": " + noFile, env("KESTREL_PORT", a)},
        {emulated, 0, flashed, "", env("KESTREL_PORT", "/dev/a")},  // ruled out: ignored
        {emulated, 2, "", "KESTREL_APPROVED: an empty value", env("KESTREL_APPROVED", "")},
        {emulated, 2, "", "KESTREL_TIMEOUT: an empty value", env("KESTREL_TIMEOUT", "")},
        {emulated, 2, "", "KESTREL_JSON: a flag takes 1 or 0", env("KESTREL_JSON", "1x")},
        {emulated, 2, "", "KESTREL_SERIAL_AT: needs --serial-counter or --unit-data",
         env("KESTREL_SERIAL_AT", "0xE1000")},
        {{"--emulate", kMot}, 2, "", "from the environment: KESTREL_TIMEOUT=soon", env("KESTREL_TIMEOUT", "soon")},
        {{"-q", "--emulate", forcedS3},
         5,
         "\nError: unsupported record type in line 2\n",
         forcedS3 + ":2: record type S3 is not supported: S3 and S7 carry 32-bit addresses; the box takes 24-bit S2 " +
             "records ending in S8, which objcopy writes by itself for addresses up to 0xFFFFFF (leave out "
             "--srec-forceS3)\n"},
        {{"--check", "-q", kMot}, 0, "Building output data... \n", "", env("KESTREL_TIMEOUT", "soon")},
        {check, 1, "Building output data... \n", findings + ":2: data at 0xE0008 overlaps the record of line 1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.empty() ? "no arguments" : row.args.front() + " " + row.args.back());
        const auto run = Flash(row.args, {.inChild = row.inChild});
        EXPECT_EQ(run.exitStatus, row.status) << run.err;
        EXPECT_TRUE(run.out.ends_with(row.out) && (!row.out.empty() || row.status == 0 || run.out.empty())) << run.out;
        EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
        // A broken download fails each row after it the same way, each after waiting out its bounds.
        if (HasFailure())
            return;
    }
    EXPECT_EQ(ReadFile(out), std::string(f.motImage.begin(), f.motImage.end()));
    EXPECT_FALSE(std::filesystem::exists(f.Path("checked.img")));  // a failing check writes no image
    for (const auto& entry : std::filesystem::directory_iterator(f.dir.Path()))
        EXPECT_EQ(entry.path().string().find(".partial-"), std::string::npos) << entry.path();
    EXPECT_EQ(ReadFile(oldImage), old);
    // The started record fitted; the result did not, and left not a byte of itself.
    EXPECT_TRUE(ReadFile(oldLog).starts_with(old + "=== ") && ReadFile(oldLog).ends_with("\n\n") &&
                ReadFile(oldLog).find("result: ") == std::string::npos)
        << ReadFile(oldLog).substr(old.size());
    EXPECT_TRUE(tty.Untouched());
    ::close(brokenPipe[1]);
    ::close(full);

    // The JSON result carries the status the box ends with: its record lost, a success is a failure.
    const auto json =
        Flash({"--json", "--emulate", "--log", jsonLog, kMot}, {.inChild = FilesUpTo(bigOld.size() + 900)});
    EXPECT_EQ(json.exitStatus, 10);
    EXPECT_NE(json.LastOutLine().find("\"outcome\":\"success\",\"exit\":10,"), std::string::npos) << json.out;
    // Another process holds the log's lock: a signal ends the wait at once.
    const std::string locked = f.dir.Write("locked.log", std::string());
    const int holder = ::open(locked.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    const auto waiting = Flash({"-q", "--emulate", "--log", locked, kMot},
                               {.signalToSend = SIGINT, .signalAt = std::chrono::milliseconds(300)});
    ::close(holder);
    EXPECT_EQ(waiting.exitStatus, 9) << waiting.err;
    EXPECT_LT(waiting.seconds, 5);
    EXPECT_NE(waiting.err.find("cannot write the log " + locked + ": cancelled while waiting for its lock"),
              std::string::npos)
        << waiting.err;

    // --check says once what is wrong with a refused file and claims nothing more: a run of records of a refused
    // type is one line, its end no truncation (their words are the readers' tables'); a file refused for its size is
    // not read, so not checked.
    const std::string large = f.dir.Write("large.mot", std::string(2200000, 'S'));
    const std::string s7 = ":" + std::to_string(SplitLines(ReadFile(forcedS3)).size()) + ": record type S7 is not";
    for (const auto& [file, said] : std::vector<std::pair<std::string, Lines>>{
             {forcedS3, {forcedS3 + ":2: ", forcedS3 + s7}},
             {large, {"kestrel-flash: " + large + ": more than 500000 bytes, the most a file of its kind may have"}}}) {
        const auto run = Flash({"--check", file});
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_TRUE(std::ranges::equal(SplitLines(run.err), said, [](const auto& line, const auto& start) {
            return line.starts_with(start);
        })) << run.err;
    }
}

}  // namespace
}  // namespace kestrel::testing
