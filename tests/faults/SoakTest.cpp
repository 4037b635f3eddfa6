#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "FaultFirmware.h"
#include "ProcessResources.h"
#include "session/DownloadWorkflow.h"
#include "support/SimulatedBox.h"

// A thousand downloads in one process, success and every kind of failure in
// turn: nothing of one download may stay behind in the process.
namespace kestrel::testing {
namespace {

using emulator::BoxBehaviour;
using emulator::BoxStage;

struct Scenario {
    const char* name;
    std::string link;
    std::string file;
    BoxBehaviour behaviour;
    DownloadOutcome outcome;
    std::string lastLine;
    bool cancelDuringErase = false;
};

std::vector<Scenario> Failures(const FaultFirmware& files) {
    return {
        {"wrong type", "USB", files.mot, {.firmwareType = 2}, DownloadOutcome::BoxRefused,
         "Error: Wrong firmware type"},
        {"'E' to the length", "USB", files.mot, {.refuseAt = BoxStage::Length}, DownloadOutcome::BoxRefused,
         "Error: Cannot program"},
        {"'E' to the header", "USB", files.bin, {.firmwareType = 2, .refuseAt = BoxStage::Length},
         DownloadOutcome::BoxRefused, "Error: Cannot program"},
        {"'E' to the erase", "USB", files.mot, {.refuseAt = BoxStage::Erase}, DownloadOutcome::BoxRefused,
         "Error: cannot erase flash"},
        {"'E' to the data", "USB", files.mot, {.refuseAt = BoxStage::Data}, DownloadOutcome::BoxRefused,
         "Error: Cannot program"},
        {"silent at the sync", "USB", files.mot, {.silentAt = BoxStage::Sync}, DownloadOutcome::BoxSilent,
         "Error: synchronize timeout"},
        {"silent at the erase", "USB", files.mot, {.silentAt = BoxStage::Erase}, DownloadOutcome::BoxSilent,
         "Error: box not answering"},
        {"silent at the read-back", "USB", files.mot, {.silentAt = BoxStage::ReadBack}, DownloadOutcome::BoxSilent,
         "Error: box not answering"},
        {"hang-up in the data", "USB", files.mot, {.hangUpAt = BoxStage::Data}, DownloadOutcome::BoxSilent,
         "Error: box not answering"},
        {"corrupt read-back", "USB", files.mot, {.corruptReadBack = true}, DownloadOutcome::VerifyFailed,
         "Error: data verify"},
        {"missing file", "USB", files.missing, {}, DownloadOutcome::FileFailed, "Error: cannot open sourcefile"},
        {"misplaced records", "USB", files.misplaced, {}, DownloadOutcome::DataFailed,
         "Error: startaddress is not 0xE0000"},
        {"unknown interface", "LPT1", files.mot, {}, DownloadOutcome::LinkFailed, "Error: unknown interface"},
        {"cancel during the erase", "USB", files.mot, {.eraseMs = 5000}, DownloadOutcome::Cancelled,
         "Error: download cancelled", true},
    };
}

std::vector<Scenario> Successes(const FaultFirmware& files) {
    return {
        {"S-record file with read-back", "USB", files.mot, {}, DownloadOutcome::Success, "FLASHING SUCCESSFULL"},
        {"binary image", "USB", files.bin, {.firmwareType = 2}, DownloadOutcome::Success, "FLASHING SUCCESSFULL"},
    };
}

// One download into a box of its own; false when it did not end as the scenario says.
bool Download(const Scenario& scenario) {
    SimulatedBox box(scenario.behaviour);
    SessionOptions options = box.Options(3000);
    if (scenario.cancelDuringErase) {
        const std::uint32_t startMs = box.clock.TickMs();
        options.cancelRequested = [&box, startMs] { return box.clock.TickMs() - startMs > 1000; };
    }
    const DownloadOutcome outcome = RunDownload(scenario.link, scenario.file, box.status, options);
    const auto lines = box.status.lines();
    const bool asExpected = outcome == scenario.outcome && !lines.empty() && lines.back() == scenario.lastLine;
    // Whatever happened, the device is free again.
    return asExpected && !box.driver.IsOpen(box.slot);
}

TEST(Soak, AThousandDownloadsLeaveNoDescriptorThreadOrHeapBehind) {
    const FaultFirmware files;
    const auto failures = Failures(files);
    const auto successes = Successes(files);

    // One round of everything first, so that what the process sets up once
    // (the clock, the C library's buffers) is in place before counting.
    for (const auto& scenario : failures) {
        ASSERT_TRUE(Download(scenario)) << scenario.name;
    }
    for (const auto& scenario : successes) {
        ASSERT_TRUE(Download(scenario)) << scenario.name;
    }

    const ProcessResources before = MeasureProcess();
    constexpr int kDownloads = 1000;
    int wrong = 0;
    for (int i = 0; i < kDownloads; ++i) {
        // Every other download succeeds; the failures take their turns in between.
        const Scenario& scenario = i % 2 == 0 ? successes[(i / 2) % successes.size()] : failures[(i / 2) % failures.size()];
        if (!Download(scenario)) {
            ADD_FAILURE() << "download " << i << " (" << scenario.name << ") ended otherwise";
            if (++wrong > 5) {
                break;
            }
        }
    }
    const ProcessResources after = MeasureProcess();

    std::printf("before: %zu descriptors, %zu threads, %zu heap bytes\n", before.openDescriptors, before.threads,
                before.heapBytes);
    std::printf("after:  %zu descriptors, %zu threads, %zu heap bytes\n", after.openDescriptors, after.threads,
                after.heapBytes);
    EXPECT_EQ(after.openDescriptors, before.openDescriptors);
    EXPECT_EQ(after.threads, before.threads);
    // A leak of a single small block per download would show as 16 KB or more.
    EXPECT_LE(after.heapBytes, before.heapBytes + 4096);
}

}  // namespace
}  // namespace kestrel::testing
