// kestrel-flash against kestrel-box over real pseudo-terminals, as a user with
// a box on a serial port, or a production line with several, runs it; and a
// flashing station run in process, with simulated USB boxes that the test plugs
// in and out while its rounds go on.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <tuple>

#include "CliSupport.h"
#include "cli/StationRun.h"
#include "emulator/SimulatedUsbDriver.h"
#include "session/ExitStatus.h"
#include "station/PortListing.h"
#include "station/StationTestSupport.h"
#include "support/FakeUsbTty.h"
#include "support/Firmware.h"

namespace kestrel::testing {
namespace {

// What kestrel-flash reports while it builds the image of FirmwareFiles' .mot file.
const Lines kPrepared = {"Loading sourcefile... ", "Analysing sourcefile... ", "16 lines interpreted",
                         "Building output data... "};

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(KestrelFlashDownload, FlashesBothKindsIntoTheBoxAtTheirLineSettings) {
    FirmwareFiles f;
    BoxProcess box;
    // A box that is there already is flashed without delay.
    const auto motRun = Flash({"-p", box.linkPath, "--wait", f.mot});
    ASSERT_EQ(motRun.exitStatus, 0) << motRun.out << motRun.err;  // else the second download fails alike
    // The file is read once the link is open.
    EXPECT_EQ(SplitLines(motRun.out),
              Concat<std::string>({{kFlashed.front()}, kPrepared, Lines(kFlashed.begin() + 1, kFlashed.end())}));
    // Progress into a file: a plain line at 0 %, at each tenth and at 100 % of the data and of the read-back.
    EXPECT_EQ(std::count(motRun.err.begin(), motRun.err.end(), '%'), 22) << motRun.err;
    EXPECT_EQ(box.SavedImage(1), Text(f.motImage));
    EXPECT_TRUE(PortOpensAgain(box.linkPath));

    // The box of a binary image announces type 2, which `box` does not: a second box serves it.
    BoxProcess typeTwo({"--type", "2"});
    const auto binRun = Flash({"-q", "-p", typeTwo.linkPath, f.bin});
    EXPECT_EQ(binRun.LastOutLine(), "FLASHING SUCCESSFULL") << binRun.err;
    EXPECT_EQ(binRun.err, "");  // --quiet
    EXPECT_EQ(typeTwo.SavedImage(1), Text(f.binImage));
    EXPECT_NE(box.Stop().find("line 115200 baud, 8N2"), std::string::npos);
    EXPECT_NE(typeTwo.Stop().find("line 38400 baud, 8N2"), std::string::npos);  // reopened before its header
}

TEST(KestrelFlashDownload, AGangReportsEachBoxByItsPortAsTextJsonAndInTheLogAlsoWhenItsFileIsRefused) {
    FirmwareFiles f;
    BoxProcess good, refusing({"--refuse-at", "erase"});
    const std::string log = f.Path("line.log");
    const auto run = Flash({"-q", "-p", good.linkPath, "-p", refusing.linkPath, "--log", log, f.mot});
    EXPECT_EQ(run.exitStatus, 6) << run.out << run.err;  // the first failure's class
    const Lines lines = SplitLines(run.out);
    // The file is read and built once, before any box is opened; then each box's lines carry its port.
    EXPECT_TRUE(lines.size() > kPrepared.size() && std::equal(kPrepared.begin(), kPrepared.end(), lines.begin()));
    for (const auto& line :
         {good.linkPath + ": FLASHING SUCCESSFULL", refusing.linkPath + ": Error: cannot erase flash"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << "\n" << run.out;
    EXPECT_NE(run.err.find(refusing.linkPath + ": FAILED (box-refused)"), std::string::npos) << run.err;
    // Each box's image and JSON result under its port are GangDownloadTest's and check-trace.py's.

    // A file refused before any box was touched: each box still gets its record,
    // the file by its absolute path; the JSON lines end with the result.
    const auto refused = Flash({"--json", "-p", good.linkPath, "-p", refusing.linkPath, "--log", log, "--lot", "L1",
                                std::filesystem::relative(f.missing).string()});
    EXPECT_EQ(refused.exitStatus, 4);
    const auto objects = ParseJsonLines(SplitLines(refused.out));
    EXPECT_TRUE(!objects.empty() && objects.back().at("outcome") == "file-failed") << refused.out;
    const Lines logLines = SplitLines(ReadFile(log));
    const auto starting = [&logLines](const std::string& start) {
        return std::ranges::count_if(logLines, [&start](const std::string& line) { return line.starts_with(start); });
    };
    // Each box's started record and its result.
    EXPECT_EQ(starting("image: 131078 bytes, sha256 " + Sha256Of(f.motImage)), 4);
    EXPECT_EQ(starting("result: box-refused, exit 6"), 1);
    EXPECT_EQ(std::ranges::count(logLines, "file: " + f.missing), 2);
    EXPECT_EQ(starting("result: file-failed, exit 4"), 2);
    EXPECT_EQ(std::ranges::count(logLines, "lot: L1"), 2);  // a download that never began is traced all the same
}

// A script reading --json from a pipe sees each line as it is written. The box holds back its read-back, so the
// tool waits with every line written up to the progress before the last 4096-byte piece of the data: 126976 of the
// demo's 131072 bytes.
TEST(KestrelFlashDownload, JsonLinesReachAPipeAsTheyAreWritten) {
    BoxProcess box({"--silent-at", "read-back"});
    int out[2];
    ASSERT_TRUE(::pipe(out) == 0 && ::fcntl(out[0], F_SETFL, O_NONBLOCK) == 0);  // the tool's end blocks
    const pid_t flash = Spawn({KESTREL_FLASH, "--json", "-p", box.linkPath, kMot}, "/dev/null", "/dev/null",
                              [fd = out[1]] { ::dup2(fd, STDOUT_FILENO); });
    ::close(out[1]);
    Eventually([&box] { return !box.SavedImage(1).empty(); }, std::chrono::seconds(10));  // a broken one fails below
    std::string seen(1 << 20, '\0');
    seen.resize(static_cast<std::size_t>(std::max<ssize_t>(::read(out[0], seen.data(), seen.size()), 0)));
    ::kill(flash, SIGKILL);
    ::waitpid(flash, nullptr, 0);
    ::close(out[0]);
    EXPECT_TRUE(seen.ends_with('\n') && seen.find(R"("stage":"writing","done":126976,)") != std::string::npos) << seen;
}

// The boxes named, or with none every USB box attached.
cli::StationOptions Boxes(const Lines& ports, bool wait = false, int repeat = 1, double waitSeconds = 0) {
    return {.ports = ports, .allUsb = ports.empty(), .wait = wait, .waitTimeoutSeconds = waitSeconds, .repeat = repeat};
}

struct Station {
    explicit Station(cli::StationOptions options) : line(std::move(options)) {}
    // A run still going at the end of the test, after a failed assertion, is
    // cancelled: the future's destructor would otherwise wait for it for ever.
    ~Station() { stop = true; }
    int Run() { return cli::RunStation(line, request); }
    std::size_t Plug(const std::string& serial, bool refuseOpen = false) {
        return driver.AddDevice({.behaviour = {}, .refuseOpen = refuseOpen, .serialNumber = serial});
    }
    // The tool wrote to the box in `slot` and let it go, however the download ended.
    bool Released(std::size_t slot) { return !driver.IsOpen(slot) && !driver.Written(slot).empty(); }
    // ... having told it that its read-back matched.
    bool Flashed(std::size_t slot) { return Released(slot) && driver.Written(slot).back() == 'S'; }

    emulator::SimulatedUsbDriver driver{SteadyClock()};
    std::atomic<bool> stop{false};
    cli::StationOptions line;
    cli::StationRequest request{.file = kMot,
                                .emulate = "",
                                .timeoutSeconds = 5,
                                .quiet = true,
                                .cancelRequested = [this] { return stop.load(); },
                                .usbDriver = &driver};
    std::future<int> run;  // last: it ends before the rest goes
};

TEST(Station, AllUsbTakesTheBoxesAttachedNowAPlainUsbLogsTheBoxItOpenedAndNoBoxIsGivenTwice) {
    Station station(Boxes({}));
    EXPECT_EQ(station.Run(), kExitLink);  // no box

    const std::size_t refusing = station.Plug("KST-A", true), b = station.Plug("KST-B");
    // One box by its serial number and by its index is one port given twice: no box is opened.
    // So is a plain USB beside a box it may open, and a box's tty, by any name, and the same box on
    // USB; a tty of another box is not.
    FakeUsbTty tty("KST-B");
    station.request.systemRoot = tty.root;
    for (const Lines& names : {Lines{"USB:KST-B", "USB:0", "usb:1"}, Lines{"USB", "USB:0"},
                               Lines{tty.link, "USB:KST-B"}, Lines{"USB:1", tty.path}}) {
        station.line = Boxes(names);
        EXPECT_EQ(station.Run(), kExitUsage) << names.front();
    }
    EXPECT_EQ(PortGivenTwice({tty.path, "USB:KST-A"}, station.driver, tty.root), "");
    EXPECT_EQ(station.driver.Calls().openIndices.size(), 0u);
    EXPECT_TRUE(tty.Untouched());

    // A plain "USB" tries the boxes in turn: the log names the one that took the download.
    TempDir dir;
    station.line = Boxes({"USB"});
    station.line.logFile = (dir.Path() / "station.log").string();
    ASSERT_EQ(station.Run(), kExitSuccess);
    const std::string text = ReadFile(station.line.logFile);
    EXPECT_NE(text.find("identity: USB 0403:6001 Kestrel box, serial KST-B\n"), std::string::npos) << text;

    // Two boxes that share a serial number are both flashed, each by its index.
    station.driver.SetPresent(refusing, false);
    const std::size_t c = station.Plug("KST-C"), twin = station.Plug("KST-C");
    station.line = Boxes({});
    EXPECT_EQ(station.Run(), kExitSuccess);
    EXPECT_EQ(station.driver.Model(b).CompletedDownloads(), 2);
    EXPECT_EQ(station.driver.Model(c).CompletedDownloads(), 1);
    EXPECT_EQ(station.driver.Model(twin).CompletedDownloads(), 1);
}

// A technician swaps boxes: each round flashes whichever box is attached now,
// also one that was not there when the run began, until interrupted.
TEST(Station, RepeatWithWaitFlashesEachBoxSwappedIn) {
    Station station(Boxes({}, true, 0));
    station.run = std::async(std::launch::async, [&] { return station.Run(); });
    ASSERT_TRUE(Eventually([&] { return station.driver.Calls().listDevices > 0; }));  // found no box yet
    for (const char* serial : {"KST-A", "KST-B"}) {
        const std::size_t box = station.Plug(serial);
        ASSERT_TRUE(Eventually([&] { return station.Released(box); })) << serial;
        ASSERT_TRUE(station.Flashed(box)) << serial;
        station.driver.SetPresent(box, false);  // swapped for the next
    }
    station.stop = true;
    ASSERT_EQ(station.run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(station.run.get(), kExitCancelled);
}

// Two boxes named, two rounds, one of them away each time: a round flashes the box that is there and the next one
// asks for both again.
TEST(Station, WaitFlashesEachRoundTheNamedBoxesThatAreThere) {
    Station station(Boxes({"USB:KST-A", "USB:KST-B"}, true, 2, 0.5));
    const std::size_t a = station.Plug("KST-A"), b = station.Plug("KST-B");
    station.driver.SetPresent(b, false);
    station.run = std::async(std::launch::async, [&] { return station.Run(); });
    ASSERT_TRUE(Eventually([&] { return station.Released(a); }));
    station.driver.SetPresent(a, false);
    station.driver.SetPresent(b, true);
    ASSERT_EQ(station.run.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(station.run.get(), kExitLink);  // each round had a box that did not come
    EXPECT_TRUE(station.Flashed(a) && station.Flashed(b));
}

// The firmware replaced on disk once the run has approved it: every box of every round, a gang's and one waited
// for, gets what was approved.
TEST(Station, AFileReplacedAfterTheApprovalIsNotFlashed) {
    FirmwareFiles f;
    const std::string approved = ReadFile(f.mot), other = WriteSRecordFile({{kWindowStart, Pattern(64, 7)}});
    for (const auto& [what, ports, wait, rounds] :
         std::vector<std::tuple<const char*, Lines, bool, int>>{{"one box", {"USB:KST-A"}, false, 2},
                                                                {"a gang", {"USB:KST-A", "USB:KST-B"}, false, 2},
                                                                {"a box waited for", {"USB:KST-A"}, true, 1}}) {
        SCOPED_TRACE(what);
        Station station(Boxes(ports, wait, rounds, 10));
        station.line.approved = f.dir.Write("ok.sha256", Sha256Of(approved) + "  x\n");
        station.request.file = f.dir.Write("lot.mot", approved);
        const std::size_t a = station.Plug("KST-A"), b = station.Plug("KST-B");
        station.driver.SetPresent(a, !wait);
        // The first look for a cancel comes after the approval and before any box is flashed.
        std::atomic<bool> replaced{false};
        station.request.cancelRequested = [&] {
            if (!replaced.exchange(true)) {
                f.dir.Write("lot.mot", other);
                station.driver.SetPresent(a, true);
            }
            return false;
        };
        EXPECT_EQ(station.Run(), kExitSuccess);
        for (const std::size_t box : ports.size() == 2 ? std::vector{a, b} : std::vector{a}) {
            EXPECT_EQ(station.driver.Model(box).CompletedDownloads(), rounds);
            EXPECT_TRUE(station.driver.Model(box).LastImage() == f.motImage);
        }
    }
}

}  // namespace
}  // namespace kestrel::testing
