#include "station-app/StationLogic.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <initializer_list>

#include <gtest/gtest.h>

#include "emulator/SimulatedUsbDriver.h"
#include "links/UsbLink.h"
#include "station-app/FirmwareSummary.h"
#include "station/Sha256.h"
#include "support/Eventually.h"
#include "support/Firmware.h"
#include "support/SentHotplugEvents.h"

namespace kestrel::testing {
namespace {

using namespace stationapp;
using emulator::BoxBehaviour;

// A station with USB boxes KST-0, KST-1, ... that the test plugs in and out.
struct Line {
    Line(std::vector<BoxBehaviour> boxes, int count, double answerTimeoutSeconds = 0.5) {
        UsbLink::ForgetDeviceListing();
        for (std::size_t i = 0; i < boxes.size(); ++i)
            driver.AddDevice({.behaviour = boxes[i], .present = false, .serialNumber = "KST-" + std::to_string(i)});
        logic = std::make_unique<StationLogic>(LotSettings{.firmware = firmware.mot,
                                                           .logFile = firmware.Path("st.log"),
                                                           .trace = {.operatorName = "Ana Tester", .lot = "L-4711"},
                                                           .count = count,
                                                           .answerTimeoutSeconds = answerTimeoutSeconds,
                                                           .usbDriver = &driver});
        std::string error;
        EXPECT_TRUE(logic->StartLot(error)) << error;
        auto sent = std::make_unique<SentHotplugEvents>();
        events = sent.get();
        hotplug = std::make_unique<UsbHotplug>(std::move(sent), driver, [this](const std::string& link, bool present) {
            logic->BoxPresence(link, present);
        });
    }
    // The boxes come or go at once: one event tells of them all.
    void Plug(std::initializer_list<std::size_t> boxes, bool present) {
        for (const std::size_t box : boxes)
            driver.SetPresent(box, present);
        events->Send();
    }
    // Plugs the boxes in one after the other, each once the one before has ended.
    void PlugInTurn(std::size_t first, std::size_t end) {
        for (std::size_t box = first; box < end; ++box) {
            Plug({box}, true);
            EXPECT_TRUE(Until([&] { return Ended(box); }));
        }
    }
    bool Ended(std::size_t box) const {
        const Tile tile = TileOf("USB:KST-" + std::to_string(box));
        return tile.present && !tile.running && tile.result != Tile::Result::None;
    }
    long LogLines(const std::string& line) const {
        return std::ranges::count(SplitLines(ReadFile(firmware.Path("st.log"))), line);
    }
    // Bounded: a lot that never gets there fails the test instead of hanging it. Past the
    // downloads' own bounds (20 s to synchronise), so that they, not this, end a broken one.
    static bool Until(const std::function<bool()>& done) { return Eventually(done, std::chrono::seconds(45)); }
    Tile TileOf(const std::string& name) const {
        const std::vector<Tile> tiles = logic->Tiles();
        const auto found = std::ranges::find(tiles, name, &Tile::name);
        return found == tiles.end() ? Tile{} : *found;
    }

    FirmwareFiles firmware;
    emulator::SimulatedUsbDriver driver{SteadyClock()};
    std::unique_ptr<StationLogic> logic;
    SentHotplugEvents* events = nullptr;
    std::unique_ptr<UsbHotplug> hotplug;  // last: it ends before the logic it calls
};

const BoxBehaviour kRefusing{.refuseAt = emulator::BoxStage::Erase};

// A lot of 3 begins 3 downloads, whether boxes come together, fail, or go and come back; then no more.
TEST(StationLot, ALotOfThreeBeginsThreeDownloadsAndShowsEachResultUntilTheBoxIsRemoved) {
    Line line({{}, kRefusing, {}, {}}, 3);
    line.Plug({0, 1}, true);
    ASSERT_TRUE(Line::Until([&] { return line.Ended(0) && line.Ended(1); }));
    const Tile failed = line.TileOf("USB:KST-1");
    EXPECT_EQ(failed.result, Tile::Result::Fail);
    EXPECT_EQ(failed.errorLine, "Error: cannot erase flash");
    EXPECT_EQ(line.driver.Model(0).LastImage(), line.firmware.motImage);

    // The failed box goes, its tile empty again, and comes back: the lot's third download.
    line.Plug({1}, false);
    ASSERT_TRUE(Line::Until([&] { return !line.TileOf("USB:KST-1").present; }));
    EXPECT_EQ(line.TileOf("USB:KST-1").result, Tile::Result::None);
    EXPECT_EQ(line.TileOf("USB:KST-0").result, Tile::Result::Pass);
    line.PlugInTurn(1, 2);
    line.Plug({2, 3}, true);
    ASSERT_TRUE(Line::Until([&] { return line.TileOf("USB:KST-2").present && line.TileOf("USB:KST-3").present; }));
    EXPECT_EQ(line.logic->Running(), 0);
    EXPECT_EQ(line.TileOf("USB:KST-3").result, Tile::Result::None);
    EXPECT_TRUE(line.logic->LotComplete());
    EXPECT_EQ(line.LogLines("record: started"), 3);
    EXPECT_EQ(line.LogLines("record: result"), 3);
    EXPECT_EQ(line.LogLines("operator: Ana Tester"), 6);
    EXPECT_EQ(line.LogLines("lot: L-4711"), 6);

    const LotCounters counters = line.logic->Counters();
    EXPECT_EQ(std::tuple(counters.passed, counters.failed), std::tuple(1, 2));
    EXPECT_NEAR(counters.YieldPercent(), 33.33, 0.01);
    EXPECT_EQ(line.logic->DatabaseLinkText(), "");  // a lot without a database: the window shows no link
    EXPECT_FALSE(counters.BoxesPerHour());          // three boxes in seconds: no pace yet
    EXPECT_EQ((LotCounters{.passed = 2, .failed = 1, .elapsedSeconds = 90}).BoxesPerHour(), 120.0);
}

// A finished box left in is not flashed again, not when told of again nor by the next lot (one removed and
// plugged in again is: the lot of three above).
TEST(StationLot, AFinishedBoxLeftInIsNotFlashedAgain) {
    Line line({{}}, 0);
    line.PlugInTurn(0, 1);
    line.logic->BoxPresence("USB:KST-0", true);  // a watcher that tells of every box it sees
    std::string error;
    line.logic->StopLot();
    ASSERT_TRUE(line.logic->StartLot(error)) << error;
    EXPECT_EQ(line.logic->Running(), 0);
    EXPECT_EQ(line.TileOf("USB:KST-0").result, Tile::Result::Pass);
}

// A box whose record is lost fails and says so, whether its result is lost after the download or its started
// record before it (then it is not flashed). The last results: newest first, ten at most, each with its verdict.
TEST(StationLot, ALostRecordFailsItsBoxAndTheLastTenResultsAreListedNewestFirst) {
    std::vector<BoxBehaviour> boxes = {{.eraseMs = 1500}, {}};
    for (int i = 0; i < 10; ++i)
        boxes.push_back(i % 3 == 0 ? kRefusing : BoxBehaviour{});
    Line line(boxes, 0, 5);
    line.PlugInTurn(2, 12);
    const std::string log = line.firmware.Path("st.log");
    line.Plug({0}, true);
    ASSERT_TRUE(Line::Until([&] { return line.TileOf("USB:KST-0").stage == "Erasing flash... "; }));
    std::filesystem::rename(log, log + ".old");
    std::filesystem::create_directory(log);  // no record can be written from here on
    ASSERT_TRUE(Line::Until([&] { return line.Ended(0); }));
    line.PlugInTurn(1, 2);
    const std::string lost = "Error: cannot write the log " + log + ": the ";
    EXPECT_EQ(line.TileOf("USB:KST-0").errorLine, lost + "record of USB:KST-0 is lost: Is a directory");
    EXPECT_EQ(line.TileOf("USB:KST-1").errorLine,
              lost + "started record of USB:KST-1 is lost: Is a directory; not flashed");
    EXPECT_EQ(line.driver.Model(0).CompletedDownloads(), 1);
    EXPECT_EQ(line.driver.Model(1).CompletedDownloads(), 0);

    const LotCounters counters = line.logic->Counters();
    EXPECT_EQ(std::tuple(counters.passed, counters.failed), std::tuple(6, 6));
    EXPECT_EQ(counters.lastResults,
              (std::deque<std::string>{"FAIL USB:KST-1", "FAIL USB:KST-0", "FAIL USB:KST-11", "PASS USB:KST-10",
                                       "PASS USB:KST-9", "FAIL USB:KST-8", "PASS USB:KST-7", "PASS USB:KST-6",
                                       "FAIL USB:KST-5", "PASS USB:KST-4"}));
}

// A database that cannot be reached does not stop the lot: it is said, and the window shows the link.
TEST(StationLot, AnUnreachableDatabaseIsSaidAndTheLotStarts) {
    if (!RecordDatabaseAvailable())
        GTEST_SKIP() << "no database client in this build";
    FirmwareFiles firmware;
    // Nothing listens on port 1 of the loopback.
    StationLogic logic(LotSettings{
        .firmware = firmware.mot, .logFile = firmware.Path("st.log"), .database = "postgresql://127.0.0.1:1/kestrel"});
    std::string error;
    std::vector<std::string> notices;
    ASSERT_TRUE(logic.StartLot(error, &notices)) << error;
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].starts_with("the database cannot be reached (")) << notices[0];
    EXPECT_TRUE(logic.DatabaseLinkText().starts_with("database: ")) << logic.DatabaseLinkText();
}

// What the window says of a file before a lot begins. What is no regular file is refused at once, as a download
// refuses it (a FIFO would hold the window), and so is a file larger than a download takes, without reading it whole.
// A lot of firmware outside its manifest does not start.
TEST(FirmwareSummary, GivesSizeRecordsDigestAndApprovalOfWhatADownloadWouldRead) {
    FirmwareFiles f;
    const std::string text = ReadFile(f.mot),
                      manifest = f.dir.Write("approved.sha256", std::string(64, 'a') + "  other.mot\n");
    const FirmwareSummary mot = SummariseFirmware(f.mot, manifest);
    EXPECT_EQ(std::tuple(mot.size, mot.records, mot.approval, mot.error),
              std::tuple(text.size(), 13, "NOT APPROVED", std::string()));
    EXPECT_EQ(mot.sha256, Sha256Hex(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    std::string error;
    EXPECT_FALSE(StationLogic(LotSettings{.firmware = f.mot, .manifest = manifest}).StartLot(error));
    EXPECT_TRUE(error.ends_with(" is not in the approved manifest " + manifest + ": not flashed")) << error;
    EXPECT_EQ(SummariseFirmware(f.bin, "").records, -1);
    const std::string large = f.dir.Write("large.bin", std::string(500001, 'x'));
    EXPECT_EQ(SummariseFirmware("/dev/null", "").error,
              "cannot read /dev/null: not a regular file (a FIFO, a device or a socket)");
    EXPECT_EQ(SummariseFirmware(large, "").error,
              large + ": more than 500000 bytes, the most a firmware file may have");
}

}  // namespace
}  // namespace kestrel::testing
