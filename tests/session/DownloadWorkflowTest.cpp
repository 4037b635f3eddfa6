#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace kestrel::testing
