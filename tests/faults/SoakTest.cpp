#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProcessResources.h"
#include "support/SessionScenarios.h"

// A thousand downloads in one process, success and every way of failing in
// turn (the workflow's scenarios): nothing of one download may stay behind.
namespace kestrel::testing {
namespace {

TEST(Soak, AThousandDownloadsLeaveNoDescriptorThreadOrHeapBehind) {
    const ScenarioFiles files;
    const std::vector<Scenario> scenarios = Scenarios(files);
    // Every other download succeeds; the failures take their turns in between.
    std::vector<const Scenario*> turns[2];
    for (const auto& scenario : scenarios)
        turns[scenario.outcome == DownloadOutcome::Success ? 0 : 1].push_back(&scenario);
    // One round of everything first, so that what the process sets up once
    // (the clock, the C library's buffers) is in place before counting.
    for (const auto& scenario : scenarios)
        RunScenario(scenario);
    ASSERT_FALSE(HasFailure());

    const ProcessResources before = MeasureProcess();
    for (std::size_t i = 0; i < 1000 && !HasFailure(); ++i) {
        const Scenario& scenario = *turns[i % 2][(i / 2) % turns[i % 2].size()];
        SCOPED_TRACE("download " + std::to_string(i) + ": " + scenario.name);
        RunScenario(scenario);
    }
    const ProcessResources after = MeasureProcess();
    EXPECT_EQ(after.openDescriptors, before.openDescriptors);
    EXPECT_EQ(after.threads, before.threads);
    // A leak of a single small block per download would show as 16 KB or more.
    EXPECT_LE(after.heapBytes, before.heapBytes + 4096);
}

}  // namespace
}  // namespace kestrel::testing
