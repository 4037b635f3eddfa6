#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "emulator/ServedBox.h"
#include "session/DownloadWorkflow.h"
#include "session/ForwardingStatusList.h"
#include "support/Firmware.h"
#include "support/SimulatedBox.h"

// Whole downloads: every outcome with every line the user sees, and the link
// free again afterwards whatever the outcome.
namespace kestrel::testing {
namespace {

using emulator::BoxBehaviour;
using emulator::BoxStage;
using O = DownloadOutcome;

const std::string kOpening = "Opening interface... ";
const std::string kLoading = "Loading sourcefile... ";
const std::string kAnalysing = "Analysing sourcefile... ";
const std::string kBuilding = "Building output data... ";
const std::string kWaiting = "Waiting for synchronising ... ";
const Lines kPrepared = {kOpening, kLoading, kAnalysing, "16 lines interpreted", kBuilding};
const Lines kFlashed = {kWaiting, "Writing datalength... ", "Erasing flash... ", "Writing data... "};
const Lines kBinFlashed = {kWaiting, "Writing header... ", "Erasing flash... ", "Writing data... "};

struct Firmware : FirmwareFiles {
    std::string largest = dir.Write("largest.bin", BinImage(229376 - 30));
    std::string noData = dir.Write("header.mot", SRecordLine('0', 0, nullptr, 0) + SRecordLine('8', 0, nullptr, 0));
};

TEST(RunDownload, EachOutcomeWithItsLines) {
    Firmware files;
    struct Case {
        std::string name, link, file;
        BoxBehaviour behaviour;
        DownloadOutcome outcome;
        Lines lines;
        bool cancel = false;
        bool boxPresent = true;
    };
    const std::vector<Case> cases = {
        {"S-record file, read back and matched",
         "USB",
         files.mot,
         {},
         O::Success,
         Concat({kPrepared, kFlashed, {"Reading data... ", "Verify data...", "FLASHING SUCCESSFULL"}})},
        {"S-record file, no read-back",
         "usb",
         files.mot,
         {.readBack = false},
         O::Success,
         Concat({kPrepared, kFlashed, {"FLASHING SUCCESSFULL"}})},
        {"binary image, no read-back",
         "USB",
         files.bin,
         {.firmwareType = 2},
         O::Success,
         Concat({{kOpening, kLoading, kAnalysing, "3 lines interpreted", kBuilding},
                 kBinFlashed,
                 {"FLASHING SUCCESSFULL"}})},
        // The largest binary image still fits beside its read-back.
        {"largest binary image, read back",
         "USB",
         files.largest,
         {.firmwareType = 2, .readBack = true},
         O::Success,
         Concat({{kOpening, kLoading, kAnalysing, "896 lines interpreted", kBuilding},
                 kBinFlashed,
                 {"Reading data... ", "Verify data...", "FLASHING SUCCESSFULL"}})},
        {"no link of that name", "LPT1", files.mot, {}, O::LinkFailed, {kOpening, "Error: unknown interface"}},
        {"no USB device",
         "USB",
         files.mot,
         {},
         O::LinkFailed,
         {kOpening, "Error: cannot open Ixo Serial Device"},
         false,
         false},
        {"missing file",
         "USB",
         files.missing,
         {},
         O::FileFailed,
         {kOpening, kLoading, "Error: cannot open sourcefile"}},
        {"no data record",
         "USB",
         files.noData,
         {},
         O::DataFailed,
         {kOpening, kLoading, kAnalysing, "2 lines interpreted", kBuilding, "Error: no data in sourcefile"}},
        {"first record not at 0xE0000",
         "USB",
         files.misplaced,
         {},
         O::DataFailed,
         {kOpening, kLoading, kAnalysing, "5 lines interpreted", kBuilding, "Error: startaddress is not 0xE0000"}},
        {"box of the other type",
         "USB",
         files.mot,
         {.firmwareType = 2},
         O::BoxRefused,
         Concat({kPrepared, {kWaiting, "Error: Wrong firmware type"}})},
        {"no answer to the sync",
         "USB",
         files.mot,
         {.silentAt = BoxStage::Sync},
         O::BoxSilent,
         Concat({kPrepared, {kWaiting, "Error: synchronize timeout"}})},
        {"silent instead of the read-back",
         "USB",
         files.mot,
         {.silentAt = BoxStage::ReadBack},
         O::BoxSilent,
         Concat({kPrepared, kFlashed, {"Reading data... ", "Error: box not answering"}})},
        {"read-back differs",
         "USB",
         files.mot,
         {.corruptReadBack = true},
         O::VerifyFailed,
         Concat({kPrepared, kFlashed, {"Reading data... ", "Verify data...", "Error: data verify"}})},
        {"cancelled",
         "USB",
         files.mot,
         {},
         O::Cancelled,
         Concat({kPrepared, {kWaiting, "Error: download cancelled"}}),
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedBox box(c.behaviour);
        box.driver.Device(box.slot).present = c.boxPresent;
        box.status.AppendStatus("a line of the download before");
        SessionOptions options = box.Options(1000);
        if (c.cancel) {
            options.cancelRequested = [] { return true; };
        }
        EXPECT_EQ(RunDownload(c.link, c.file, box.status, options), c.outcome);
        EXPECT_EQ(box.status.lines(), c.lines);
        EXPECT_FALSE(box.driver.IsOpen(box.slot));
        const bool built = c.outcome != O::LinkFailed && c.outcome != O::FileFailed && c.outcome != O::DataFailed;
        EXPECT_EQ(box.Written().empty(), !built) << "nothing goes to the box before the image is built";
    }
}

// A list that adds to a download's report passes every call on, the progress and paint requests too.
TEST(ForwardingStatusList, PassesEveryCallOnToTheListBehindIt) {
    struct Calls : RecordingStatusList {
        void Progress(ProgressStage, std::uint32_t done, std::uint32_t) override {
            AppendStatus("progress " + std::to_string(done));
        }
        void RepaintNow() override { AppendStatus("repaint"); }
        void ApplyScrollRule() override { AppendStatus("scroll"); }
    };
    Firmware files;
    Calls direct, behind;
    ForwardingStatusList forwarded(&behind), toNothing(nullptr);
    for (StatusList* status : {static_cast<StatusList*>(&direct), static_cast<StatusList*>(&forwarded),
                               static_cast<StatusList*>(&toNothing)}) {
        SimulatedBox box;
        EXPECT_EQ(RunDownload("USB", files.mot, *status, box.Options()), O::Success);
    }
    const auto lines = direct.lines();
    for (const std::string call : {"progress 0", "repaint", "scroll"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), call), lines.end()) << call;
    }
    EXPECT_EQ(behind.lines(), lines);
}

// A box behind a pseudo-terminal, served on its own thread in real time.
TEST(RunDownload, OverASerialLineThePortIsFreeAfterEachDownload) {
    Firmware files;
    for (const auto& [behaviour, outcome, lastLine] :
         {std::tuple{BoxBehaviour{}, O::Success, "FLASHING SUCCESSFULL"},
          std::tuple{BoxBehaviour{.silentAt = BoxStage::Length}, O::BoxSilent, "Error: box not answering"}}) {
        SCOPED_TRACE(lastLine);
        // A box that asks for the length again without end is answered without end:
        // its hang-up at the give-up time ends the download, and the test fails instead of hanging.
        emulator::ServedBox box{emulator::BoxModel(behaviour), {.giveUpAfterMs = 10000}};
        ASSERT_TRUE(box.Started()) << box.Error();
        SessionOptions options;
        options.answerTimeoutMs = 300;
        RecordingStatusList status;
        EXPECT_EQ(RunDownload(box.DevicePath(), files.mot, status, options), outcome);
        EXPECT_EQ(status.lines().empty() ? "" : status.lines().back(), lastLine);
        SerialLink again;
        EXPECT_TRUE(again.Open(box.DevicePath(), 115200, 0, 2, 8)) << "errno " << again.OpenError();
    }
}

}  // namespace
}  // namespace kestrel::testing
