// A flashing station run in process: simulated USB boxes that the test plugs
// in and out while kestrel-flash's rounds go on.
#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "CliSupport.h"
#include "cli/StationRun.h"
#include "emulator/SimulatedUsbDriver.h"
#include "session/ExitStatus.h"

namespace kestrel::testing {
namespace {

// Polls until `done` holds; false after 10 s.
bool Eventually(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

// The boxes named, or with none every USB box attached.
cli::StationOptions Boxes(const Lines& ports, bool wait = false, int repeat = 1) {
    cli::StationOptions line;
    line.ports = ports;
    line.allUsb = ports.empty();
    line.wait = wait;
    line.repeat = repeat;
    return line;
}

struct Station {
    explicit Station(cli::StationOptions options) : line(std::move(options)) {
        request.file = kMot;
        request.timeoutSeconds = 5;
        request.quiet = true;
        request.cancelRequested = [this] { return stop.load(); };
        request.usbDriver = &driver;
    }
    // A run still going at the end of the test, after a failed assertion, is
    // cancelled: the future's destructor would otherwise wait for it for ever.
    ~Station() { stop = true; }
    int Run() { return cli::RunStation(line, request); }
    std::size_t Plug(const std::string& serial, bool refuseOpen = false) {
        return driver.AddDevice({.behaviour = {}, .refuseOpen = refuseOpen, .serialNumber = serial});
    }
    // The tool told the box in `slot` that its read-back matched, and let it go.
    bool Flashed(std::size_t slot) {
        const auto written = driver.Written(slot);
        return !driver.IsOpen(slot) && !written.empty() && written.back() == 'S';
    }
    void ExpectFlashed(std::size_t slot, int times) {
        EXPECT_EQ(driver.Model(slot).CompletedDownloads(), times) << slot;
        EXPECT_EQ(driver.Model(slot).LastVerdict(), 'S') << slot;
    }

    emulator::SimulatedUsbDriver driver{SteadyClock()};
    std::atomic<bool> stop{false};
    cli::StationOptions line;
    cli::StationRequest request;
    std::future<int> run;  // last: it ends before the rest goes
};

TEST(Station, AllUsbTakesTheBoxesAttachedNowAPlainUsbLogsTheBoxItOpenedAndNoBoxIsGivenTwice) {
    Station station(Boxes({}));
    EXPECT_EQ(station.Run(), kExitLink);  // no box

    const std::size_t refusing = station.Plug("KST-A", true), b = station.Plug("KST-B");
    // One box by its serial number and by its index is one port given twice: no box is opened.
    station.line = Boxes({"USB:KST-B", "USB:0", "usb:1"});
    EXPECT_EQ(station.Run(), kExitUsage);
    EXPECT_EQ(station.driver.Calls().openIndices.size(), 0u);

    // A plain "USB" tries the boxes in turn: the log names the one that took the download.
    TempDir dir;
    station.line = Boxes({"USB"});
    station.line.logFile = (dir.Path() / "station.log").string();
    ASSERT_EQ(station.Run(), kExitSuccess);
    const std::string text = ReadFile(station.line.logFile);
    EXPECT_NE(text.find("identity: USB 0403:6001 Kestrel box, serial KST-B\n"), std::string::npos) << text;

    station.driver.SetPresent(refusing, false);
    const std::size_t c = station.Plug("KST-C");
    station.line = Boxes({});
    EXPECT_EQ(station.Run(), kExitSuccess);
    station.ExpectFlashed(b, 2);
    station.ExpectFlashed(c, 1);
}

// A technician swaps boxes: each round flashes whichever box is attached now,
// also one that was not there when the run began, until interrupted.
TEST(Station, RepeatWithWaitFlashesEachBoxSwappedIn) {
    Station station(Boxes({}, true, 0));
    station.run = std::async(std::launch::async, [&] { return station.Run(); });
    ASSERT_TRUE(Eventually([&] { return station.driver.Calls().listDevices > 0; }));  // found no box yet
    const std::size_t first = station.Plug("KST-A");
    ASSERT_TRUE(Eventually([&] { return station.Flashed(first); }));
    station.driver.SetPresent(first, false);
    const std::size_t second = station.Plug("KST-B");
    ASSERT_TRUE(Eventually([&] { return station.Flashed(second); }));
    station.stop = true;
    ASSERT_EQ(station.run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(station.run.get(), kExitCancelled);
    station.ExpectFlashed(first, 1);
    station.ExpectFlashed(second, 1);
}

}  // namespace
}  // namespace kestrel::testing
