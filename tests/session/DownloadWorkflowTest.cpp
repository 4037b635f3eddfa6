#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "emulator/ServedBox.h"
#include "session/DownloadWorkflow.h"
#include "session/ForwardingStatusList.h"
#include "support/Firmware.h"
#include "support/SimulatedBox.h"

// Whole downloads: every outcome with every line the user sees, and the link
// free again afterwards whatever the outcome. The box's refusals at each stage
// are the soak's (SoakTest), an unknown link name the link selection's.
namespace kestrel::testing {
namespace {

using emulator::BoxStage;
using O = DownloadOutcome;

const std::string kOpening = "Opening interface... ";
const std::string kWaiting = "Waiting for synchronising ... ";
const std::string kDone = "FLASHING SUCCESSFULL";
const Lines kFlashed = {kWaiting, "Writing datalength... ", "Erasing flash... ", "Writing data... "};
const Lines kBinFlashed = {kWaiting, "Writing header... ", "Erasing flash... ", "Writing data... "};
const Lines kVerified = {"Reading data... ", "Verify data..."};

// The lines up to the image built from a file of `lines` lines.
Lines Prepared(int lines) {
    return {kOpening, "Loading sourcefile... ", "Analysing sourcefile... ",
            std::to_string(lines) + " lines interpreted", "Building output data... "};
}

struct Firmware : FirmwareFiles {
    std::string largest = dir.Write("largest.bin", BinImage(229376 - 30));
    // A data record without data is no data either.
    std::string noData = dir.Write(
        "header.mot", SRecordLine('0', 0, nullptr, 0) + S2Line(kWindowStart, {}) + SRecordLine('8', 0, nullptr, 0));
};

TEST(RunDownload, EachOutcomeWithItsLines) {
    Firmware files;
    enum Extra { kNone, kUnplugged, kCancel };
    struct Case {
        std::string file;
        emulator::BoxBehaviour behaviour;
        O outcome;
        Lines lines;
        Extra extra = kNone;
    };
    const std::vector<Case> cases = {
        {files.mot, {}, O::Success, Concat({Prepared(16), kFlashed, kVerified, {kDone}})},
        {files.bin, {.firmwareType = 2}, O::Success, Concat({Prepared(3), kBinFlashed, {kDone}})},
        // The largest binary image still fits beside its read-back.
        {files.largest,
         {.firmwareType = 2, .readBack = true},
         O::Success,
         Concat({Prepared(896), kBinFlashed, kVerified, {kDone}})},
        {files.mot, {}, O::LinkFailed, {kOpening, "Error: cannot open Ixo Serial Device"}, kUnplugged},
        {files.missing, {}, O::FileFailed, {kOpening, "Loading sourcefile... ", "Error: cannot open sourcefile"}},
        {files.noData, {}, O::DataFailed, Concat({Prepared(3), {"Error: no data in sourcefile"}})},
        {files.misplaced, {}, O::DataFailed, Concat({Prepared(5), {"Error: startaddress is not 0xE0000"}})},
        {files.mot,
         {.firmwareType = 2},
         O::BoxRefused,
         Concat({Prepared(16), {kWaiting, "Error: Wrong firmware type"}})},
        {files.mot,
         {.silentAt = BoxStage::Sync},
         O::BoxSilent,
         Concat({Prepared(16), {kWaiting, "Error: synchronize timeout"}})},
        {files.mot,
         {.silentAt = BoxStage::ReadBack},
         O::BoxSilent,
         Concat({Prepared(16), kFlashed, {"Reading data... ", "Error: box not answering"}})},
        {files.mot,
         {.corruptReadBack = true},
         O::VerifyFailed,
         Concat({Prepared(16), kFlashed, kVerified, {"Error: data verify"}})},
        {files.mot, {}, O::Cancelled, Concat({Prepared(16), {kWaiting, "Error: download cancelled"}}), kCancel},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "row " << &c - cases.data() << ": " << c.lines.back());
        SimulatedBox box(c.behaviour);
        box.driver.Device(box.slot).present = c.extra != kUnplugged;
        box.status.AppendStatus("a line of the download before");
        SessionOptions options = box.Options(1000);
        if (c.extra == kCancel)
            options.cancelRequested = [] { return true; };
        EXPECT_EQ(RunDownload("USB", c.file, box.status, options), c.outcome);
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
    for (StatusList* status : std::initializer_list<StatusList*>{&direct, &forwarded, &toNothing}) {
        SimulatedBox box;
        EXPECT_EQ(RunDownload("USB", files.mot, *status, box.Options()), O::Success);
    }
    const auto lines = direct.lines();
    for (const std::string call : {"progress 0", "repaint", "scroll"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), call), lines.end()) << call;
    EXPECT_EQ(behind.lines(), lines);
}

// A box behind a pseudo-terminal, served on its own thread in real time.
TEST(RunDownload, OverASerialLineThePortIsFreeAfterEachDownload) {
    Firmware files;
    for (const auto& [behaviour, outcome, lastLine] :
         {std::tuple{emulator::BoxBehaviour{}, O::Success, kDone},
          std::tuple{emulator::BoxBehaviour{.silentAt = BoxStage::Length}, O::BoxSilent,
                     std::string("Error: box not answering")}}) {
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
