#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AllocationLimit.h"
#include "SessionTestFirmware.h"
#include "session/DownloadWorkflow.h"
#include "support/SimulatedBox.h"
#include "support/TempDir.h"

namespace kestrel::testing {
namespace {

// The records of a full-window file take more room than the session itself: the
// session is made, and the analysis is where memory runs out.
TEST(RunDownload, AnExhaustedAllocationEndsTheDownloadAndFreesTheLink) {
    TempDir dir;
    const std::string path = dir.Write("full.mot", WriteSRecordFile({{kWindowStart, Pattern(kWindowSize, 6)}}));
    SimulatedBox box;
    DownloadOutcome outcome;
    {
        RefuseLargeAllocations refuse(sizeof(DataConverter) + 1);
        outcome = RunDownload("USB", path, box.status, box.Options());
    }
    EXPECT_EQ(outcome, DownloadOutcome::DataFailed);
    EXPECT_EQ(box.status.lines(), (std::vector<std::string>{"Opening interface... ", "Loading sourcefile... ",
                                                            "Analysing sourcefile... ", "Error: out of memory"}));
    EXPECT_FALSE(box.driver.IsOpen(box.slot));
    EXPECT_TRUE(box.Written().empty());

    // Memory back, the same file goes through.
    EXPECT_EQ(RunDownload("USB", path, box.status, box.Options()), DownloadOutcome::Success);
}

TEST(RunDownload, NoRoomForTheSessionIsReportedToo) {
    SimulatedBox box;
    DownloadOutcome outcome;
    {
        RefuseLargeAllocations refuse(sizeof(DataConverter));
        outcome = RunDownload("USB", "firmware.mot", box.status, box.Options());
    }
    EXPECT_EQ(outcome, DownloadOutcome::DataFailed);
    EXPECT_EQ(box.status.lines().back(), "Error: out of memory");
    EXPECT_FALSE(box.driver.IsOpen(box.slot));
}

}  // namespace
}  // namespace kestrel::testing
