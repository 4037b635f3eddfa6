#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "support/SessionScenarios.h"

// Whole downloads: every way one ends, with every line the user sees and every
// byte on the wire, and the link free again afterwards whatever the outcome.
// An unknown link name is the link selection's row; a download over a real
// line, the box server's and kestrel-flash's (CliDownloadTest).
namespace kestrel::testing {
namespace {

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
    ASSERT_EQ(RunDownload("USB", files.bin, box.status, box.Options()), DownloadOutcome::Success);
    const std::vector<std::uint32_t> times = box.driver.WriteTimes(box.slot);
    // The sync request and the answer to the type at 700, then the 30 header bytes from 701 on.
    std::vector<std::uint32_t> expected(32, 700);
    std::iota(expected.begin() + 1, expected.end(), 700u);
    ASSERT_GE(times.size(), expected.size());
    EXPECT_EQ(std::vector(times.begin(), times.begin() + 32), expected);
}

}  // namespace
}  // namespace kestrel::testing
