#include <gtest/gtest.h>

#include <string>

#include "emulator/ServedBox.h"
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

// A box behind a pseudo-terminal, served on its own thread in real time: the
// session closes the serial line it opened, so the port is free again at once.
TEST(RunDownload, OverASerialLineThePortIsFreeAfterTheDownload) {
    const FirmwareFiles files;
    // The box hangs up at its give-up time: a download that does not end fails instead of hanging.
    emulator::ServedBox box{emulator::BoxModel(emulator::BoxBehaviour{}), {.giveUpAfterMs = 10000}};
    ASSERT_TRUE(box.Started()) << box.Error();
    RecordingStatusList status;
    EXPECT_EQ(RunDownload(box.DevicePath(), files.mot, status, SessionOptions{}), O::Success);
    const auto lines = status.lines();
    EXPECT_EQ(lines.back(), "FLASHING SUCCESSFULL");
    // Each stage is told right after its own line.
    const auto stages = status.stages();
    ASSERT_EQ(stages.size(), 2u);
    EXPECT_EQ(stages[0].first, SessionStage::OpeningLink);
    EXPECT_EQ(lines.at(stages[0].second - 1), "Opening interface... ");
    EXPECT_EQ(stages[1].first, SessionStage::Synchronising);
    EXPECT_EQ(lines.at(stages[1].second - 1), "Waiting for synchronising ... ");
    SerialLink again;
    EXPECT_TRUE(again.Open(box.DevicePath(), 115200, 0, 2, 8)) << "errno " << again.OpenError();
}

}  // namespace
}  // namespace kestrel::testing
