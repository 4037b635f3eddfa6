#include <gtest/gtest.h>

#include <string>

#include "emulator/ServedBox.h"
#include "session/ForwardingStatusList.h"
#include "support/SessionScenarios.h"

// Whole downloads: every way one ends, with every line the user sees and every
// byte on the wire, and the link free again afterwards whatever the outcome.
// An unknown link name is the link selection's row.
namespace kestrel::testing {
namespace {

using O = DownloadOutcome;

TEST(RunDownload, EachScenarioEndsWithItsOutcomeLinesBytesOnTheWireAndTime) {
    const ScenarioFiles files;
    for (const auto& scenario : Scenarios(files)) {
        SCOPED_TRACE(scenario.name);
        RunScenario(scenario);
    }
}

// A list that adds to a download's report passes every call on, the progress
// and paint requests too, which StatusList would otherwise take as no-ops.
TEST(ForwardingStatusList, PassesEveryCallOnToTheListBehindIt) {
    struct Calls : RecordingStatusList {
        void Progress(ProgressStage, std::uint32_t done, std::uint32_t) override {
            AppendStatus("progress " + std::to_string(done));
        }
        void RepaintNow() override { AppendStatus("repaint"); }
        void ApplyScrollRule() override { AppendStatus("scroll"); }
    };
    Calls behind;
    for (ForwardingStatusList forwarding : {ForwardingStatusList(&behind), ForwardingStatusList(nullptr)}) {
        forwarding.AppendStatus("cleared");
        forwarding.Clear();
        forwarding.AppendStatus("line");
        forwarding.Progress(ProgressStage::WritingData, 7, 9);
        forwarding.RepaintNow();
        forwarding.ApplyScrollRule();
    }
    EXPECT_EQ(behind.lines(), (Lines{"line", "progress 7", "repaint", "scroll"}));
}

// A box behind a pseudo-terminal, served on its own thread in real time: the
// session closes the serial line it opened, so the port is free again at once.
TEST(RunDownload, OverASerialLineThePortIsFreeAfterTheDownload) {
    const FirmwareFiles files;
    // The box hangs up at its give-up time: a download that does not end fails instead of hanging.
    emulator::ServedBox box{emulator::BoxModel(emulator::BoxBehaviour{}), {.giveUpAfterMs = 10000}};
    ASSERT_TRUE(box.Started()) << box.Error();
    RecordingStatusList status;
    EXPECT_EQ(RunDownload(box.DevicePath(), files.mot, status, SessionOptions{}), O::Success);
    EXPECT_EQ(status.lines().back(), "FLASHING SUCCESSFULL");
    SerialLink again;
    EXPECT_TRUE(again.Open(box.DevicePath(), 115200, 0, 2, 8)) << "errno " << again.OpenError();
}

}  // namespace
}  // namespace kestrel::testing
