#include "station-app/StationLogic.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

#include <gtest/gtest.h>

#include "emulator/SimulatedUsbDriver.h"
#include "links/UsbLink.h"
#include "station-app/FirmwareSummary.h"
#include "station-app/UsbHotplug.h"
#include "station/Sha256.h"
#include "support/Firmware.h"

namespace kestrel::testing {
namespace {

using namespace stationapp;
using emulator::BoxBehaviour;

// Hot-plug events the test sends, as udev's monitor would.
class SentEvents : public HotplugEvents {
public:
    bool WaitForChange() override {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return pending_ > 0 || interrupted_; });
        if (interrupted_)
            return false;
        --pending_;
        return true;
    }
    void Interrupt() override { Send(true); }
    void Send(bool interrupt = false) {
        std::lock_guard lock(mutex_);
        if (interrupt)
            interrupted_ = true;
        else
            ++pending_;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int pending_ = 0;
    bool interrupted_ = false;
};

// A station with USB boxes KST-0, KST-1, ... that the test plugs in and out.
struct Line {
    Line(std::vector<BoxBehaviour> boxes, int count, double answerTimeoutSeconds = 0.5) {
        UsbLink::ForgetDeviceListing();
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            driver.AddDevice({.behaviour = boxes[i], .present = false, .serialNumber = "KST-" + std::to_string(i)});
        }
        LotSettings lot;
        lot.firmware = firmware.mot;
        lot.logFile = firmware.Path("st.log");
        lot.count = count;
        lot.trace.operatorName = "Ana Tester";
        lot.trace.lot = "L-4711";
        lot.answerTimeoutSeconds = answerTimeoutSeconds;
        lot.usbDriver = &driver;
        logic = std::make_unique<StationLogic>(lot);
        std::string error;
        EXPECT_TRUE(logic->StartLot(error)) << error;
        auto sent = std::make_unique<SentEvents>();
        events = sent.get();
        hotplug = std::make_unique<UsbHotplug>(std::move(sent), driver, [this](const std::string& link, bool present) {
            logic->BoxPresence(link, present);
        });
    }
    void Plug(std::size_t box, bool present) {
        driver.SetPresent(box, present);
        events->Send();
    }
    // Bounded: a lot that never gets there fails the test instead of hanging it. Past the
    // downloads' own bounds (20 s to synchronise), so that they, not this, end a broken one.
    static bool Until(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(45);
        while (!done() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return done();
    }
    Tile TileOf(const std::string& name) const {
        for (const Tile& tile : logic->Tiles())
            if (tile.name == name)
                return tile;
        return {};
    }

    FirmwareFiles firmware;
    emulator::SimulatedUsbDriver driver{SteadyClock()};
    std::unique_ptr<StationLogic> logic;
    SentEvents* events = nullptr;
    std::unique_ptr<UsbHotplug> hotplug;  // last: it ends before the logic it calls
};

TEST(StationLot, ThreeBoxesOneSilentShowTheirResultsUntilRemovedAndCountTheLot) {
    Line line({{}, {.silentAt = emulator::BoxStage::Data}, {}}, 3);
    for (std::size_t box = 0; box < 3; ++box)
        line.Plug(box, true);
    // Every download ended, passed or failed: the lot's verdict is not waited for.
    ASSERT_TRUE(Line::Until([&] {
        const LotCounters counters = line.logic->Counters();
        return counters.passed + counters.failed == 3 && line.logic->Running() == 0;
    }));
    EXPECT_TRUE(line.logic->LotComplete());
    EXPECT_EQ(line.logic->DatabaseLinkText(), "");  // a lot without a database: the window shows no link

    EXPECT_EQ(line.TileOf("USB:KST-0").result, Tile::Result::Pass);
    EXPECT_EQ(line.TileOf("USB:KST-2").result, Tile::Result::Pass);
    const Tile failed = line.TileOf("USB:KST-1");
    EXPECT_EQ(failed.result, Tile::Result::Fail);
    EXPECT_EQ(failed.errorLine, "Error: box not answering");
    EXPECT_EQ(line.driver.Model(0).CompletedDownloads(), 1);
    EXPECT_EQ(line.driver.Model(0).LastImage(), line.firmware.motImage);

    const LotCounters counters = line.logic->Counters();
    EXPECT_EQ(counters.passed, 2);
    EXPECT_EQ(counters.failed, 1);
    EXPECT_NEAR(counters.YieldPercent(), 66.67, 0.01);
    EXPECT_FALSE(counters.BoxesPerHour());  // three boxes in seconds: no pace yet
    LotCounters minuteAndAHalf;
    minuteAndAHalf.passed = 3, minuteAndAHalf.elapsedSeconds = 90;
    EXPECT_EQ(minuteAndAHalf.BoxesPerHour(), 120.0);
    ASSERT_EQ(counters.lastResults.size(), 3u);
    EXPECT_EQ(std::ranges::count(counters.lastResults, "FAIL USB:KST-1"), 1);

    const Lines log = SplitLines(ReadFile(line.firmware.Path("st.log")));
    EXPECT_EQ(std::ranges::count(log, "record: result"), 3);
    EXPECT_EQ(std::ranges::count(log, "record: started"), 3);
    EXPECT_EQ(std::ranges::count(log, "operator: Ana Tester"), 6);
    EXPECT_EQ(std::ranges::count(log, "lot: L-4711"), 6);

    // The failed box goes: its tile is empty again; the others keep their PASS.
    line.Plug(1, false);
    ASSERT_TRUE(Line::Until([&] { return !line.TileOf("USB:KST-1").present; }));
    EXPECT_EQ(line.TileOf("USB:KST-1").result, Tile::Result::None);
    EXPECT_EQ(line.TileOf("USB:KST-0").result, Tile::Result::Pass);
}

TEST(StationLot, FirmwareOutsideTheManifestIsRefused) {
    FirmwareFiles firmware;
    LotSettings lot;
    lot.firmware = firmware.mot;
    lot.manifest = firmware.dir.Write("approved.sha256", std::string(64, 'a') + "  other.mot\n");
    StationLogic logic(lot);
    std::string error;
    EXPECT_FALSE(logic.StartLot(error));
    EXPECT_TRUE(error.ends_with(" is not in the approved manifest " + lot.manifest + ": not flashed")) << error;
}

// A database that cannot be reached does not stop the lot: it is said, and the window shows the link.
TEST(StationLot, AnUnreachableDatabaseIsSaidAndTheLotStarts) {
    if (!RecordDatabaseAvailable()) {
        GTEST_SKIP() << "no database client in this build";
    }
    FirmwareFiles firmware;
    LotSettings lot;
    lot.firmware = firmware.mot;
    lot.logFile = firmware.Path("st.log");
    lot.database = "postgresql://127.0.0.1:1/kestrel";  // nothing listens on port 1 of the loopback
    StationLogic logic(lot);
    std::string error;
    std::vector<std::string> notices;
    ASSERT_TRUE(logic.StartLot(error, &notices)) << error;
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].starts_with("the database cannot be reached (")) << notices[0];
    EXPECT_TRUE(logic.DatabaseLinkText().starts_with("database: ")) << logic.DatabaseLinkText();
}

// What the window says of a file before a lot begins. What is no regular file is refused at once, as a download
// refuses it (a FIFO would hold the window), and so is a file larger than a download takes, without reading it whole.
TEST(FirmwareSummary, GivesSizeRecordsDigestAndApprovalOfWhatADownloadWouldRead) {
    FirmwareFiles f;
    const std::string text = ReadFile(f.mot),
                      manifest = f.dir.Write("approved.sha256", std::string(64, 'a') + "  other.mot\n");
    const FirmwareSummary mot = SummariseFirmware(f.mot, manifest);
    EXPECT_EQ(std::tuple(mot.size, mot.records, mot.approval, mot.error),
              std::tuple(text.size(), 13, "NOT APPROVED", std::string()));
    EXPECT_EQ(mot.sha256, Sha256Hex(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    EXPECT_EQ(SummariseFirmware(f.bin, "").records, -1);
    const std::string large = f.dir.Write("large.bin", std::string(500001, 'x'));
    EXPECT_EQ(SummariseFirmware("/dev/null", "").error,
              "cannot read /dev/null: not a regular file (a FIFO, a device or a socket)");
    EXPECT_EQ(SummariseFirmware(large, "").error,
              large + ": more than 500000 bytes, the most a firmware file may have");
}

}  // namespace
}  // namespace kestrel::testing
