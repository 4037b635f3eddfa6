#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// The box's loader takes the header a byte at a time: each byte reaches it
// 1 ms after the one before, the first 1 ms after the answer to its type.
TEST(RunDownload, EachHeaderByteReachesTheBoxOneMillisecondAfterTheByteBefore) {
    const FirmwareFiles files;
    SimulatedBox box({.firmwareType = 2}, 700);
    ASSERT_EQ(RunDownload("USB", files.bin, box.status, box.Options()), O::Success);
    const std::vector<std::uint32_t> times = box.driver.WriteTimes(box.slot);
    std::vector<std::uint32_t> expected = {700, 700};  // the sync request and the answer to the type
    for (std::uint32_t byte = 1; byte <= 30; ++byte)
        expected.push_back(700 + byte);
    ASSERT_GE(times.size(), expected.size());
    EXPECT_EQ(std::vector(times.begin(), times.begin() + 32), expected);
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
