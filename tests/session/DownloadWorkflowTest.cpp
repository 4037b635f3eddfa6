#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <tuple>

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

// A list that adds to a download's report passes every call on, the progress and paint requests too.
TEST(ForwardingStatusList, PassesEveryCallOnToTheListBehindIt) {
    struct Calls : RecordingStatusList {
        void Progress(ProgressStage, std::uint32_t done, std::uint32_t) override {
            AppendStatus("progress " + std::to_string(done));
        }
        void RepaintNow() override { AppendStatus("repaint"); }
        void ApplyScrollRule() override { AppendStatus("scroll"); }
    };
    const FirmwareFiles files;
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
    const FirmwareFiles files;
    for (const auto& [behaviour, outcome, lastLine] :
         {std::tuple{emulator::BoxBehaviour{}, O::Success, std::string("FLASHING SUCCESSFULL")},
          std::tuple{emulator::BoxBehaviour{.silentAt = emulator::BoxStage::Length}, O::BoxSilent,
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
