#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProcessResources.h"
#include "session/DownloadWorkflow.h"
#include "support/Firmware.h"
#include "support/SimulatedBox.h"

// A thousand downloads in one process, success and every kind of failure in
// turn: nothing of one download may stay behind in the process.
namespace kestrel::testing {
namespace {

using emulator::BoxStage;

struct Scenario {
    std::string link;
    std::string file;
    emulator::BoxBehaviour behaviour;
    DownloadOutcome outcome;
    std::string lastLine;
    bool cancelDuringErase = false;
};

// One download into a box of its own; false when it did not end as the scenario
// says or left the device open.
bool Download(const Scenario& scenario) {
    SimulatedBox box(scenario.behaviour);
    SessionOptions options = box.Options(3000);
    if (scenario.cancelDuringErase)
        options.cancelRequested = box.Bounded([&box] { return box.clock.TickMs() > 1000; });
    const DownloadOutcome outcome = RunDownload(scenario.link, scenario.file, box.status, options);
    const auto lines = box.status.lines();
    return outcome == scenario.outcome && !lines.empty() && lines.back() == scenario.lastLine &&
           !box.driver.IsOpen(box.slot);
}

TEST(Soak, AThousandDownloadsLeaveNoDescriptorThreadOrHeapBehind) {
    const FirmwareFiles f;
    using O = DownloadOutcome;
    const std::string notAnswering = "Error: box not answering", cannotProgram = "Error: Cannot program";
    const std::vector<Scenario> successes = {
        {"USB", f.mot, {}, O::Success, "FLASHING SUCCESSFULL"},
        {"USB", f.bin, {.firmwareType = 2}, O::Success, "FLASHING SUCCESSFULL"},
    };
    const std::vector<Scenario> failures = {
        {"USB", f.mot, {.firmwareType = 2}, O::BoxRefused, "Error: Wrong firmware type"},
        {"USB", f.mot, {.refuseAt = BoxStage::Length}, O::BoxRefused, cannotProgram},
        {"USB", f.bin, {.firmwareType = 2, .refuseAt = BoxStage::Length}, O::BoxRefused, cannotProgram},
        {"USB", f.mot, {.refuseAt = BoxStage::Erase}, O::BoxRefused, "Error: cannot erase flash"},
        {"USB", f.mot, {.refuseAt = BoxStage::Data}, O::BoxRefused, cannotProgram},
        {"USB", f.mot, {.silentAt = BoxStage::Sync}, O::BoxSilent, "Error: synchronize timeout"},
        {"USB", f.mot, {.silentAt = BoxStage::Erase}, O::BoxSilent, notAnswering},
        {"USB", f.mot, {.silentAt = BoxStage::ReadBack}, O::BoxSilent, notAnswering},
        {"USB", f.mot, {.hangUpAt = BoxStage::Data}, O::BoxSilent, notAnswering},
        {"USB", f.mot, {.corruptReadBack = true}, O::VerifyFailed, "Error: data verify"},
        {"USB", f.missing, {}, O::FileFailed, "Error: cannot open sourcefile"},
        {"USB", f.misplaced, {}, O::DataFailed, "Error: startaddress is not 0xE0000"},
        {"LPT1", f.mot, {}, O::LinkFailed, "Error: unknown interface"},
        {"USB", f.mot, {.eraseMs = 5000}, O::Cancelled, "Error: download cancelled", true},
    };

    // One round of everything first, so that what the process sets up once
    // (the clock, the C library's buffers) is in place before counting.
    for (const auto* list : {&failures, &successes}) {
        for (std::size_t i = 0; i < list->size(); ++i)
            ASSERT_TRUE(Download((*list)[i])) << (list == &failures ? "failure " : "success ") << i;
    }

    const ProcessResources before = MeasureProcess();
    int wrong = 0;
    for (std::size_t i = 0; i < 1000 && wrong <= 5; ++i) {
        // Every other download succeeds; the failures take their turns in between.
        const auto& list = i % 2 == 0 ? successes : failures;
        if (!Download(list[(i / 2) % list.size()])) {
            ++wrong;
            ADD_FAILURE() << "download " << i << " (" << (i % 2 == 0 ? "success " : "failure ") << (i / 2) % list.size()
                          << ") ended otherwise";
        }
    }
    const ProcessResources after = MeasureProcess();
    EXPECT_EQ(after.openDescriptors, before.openDescriptors);
    EXPECT_EQ(after.threads, before.threads);
    // A leak of a single small block per download would show as 16 KB or more.
    EXPECT_LE(after.heapBytes, before.heapBytes + 4096);
}

}  // namespace
}  // namespace kestrel::testing
