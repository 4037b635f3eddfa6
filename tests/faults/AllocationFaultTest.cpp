#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "FailingAllocator.h"
#include "FaultFirmware.h"
#include "PausingUsbDriver.h"
#include "ProcessResources.h"
#include "session/DownloadWorkflow.h"
#include "support/SimulatedBox.h"

// Memory that runs out anywhere in the tool during a download: each of its
// allocations in turn fails once. Every time the download must end with
// "Error: out of memory", the device closed, nothing leaked.
namespace kestrel::testing {
namespace {

struct SweepResult {
    std::size_t failurePoints = 0;
    bool failedWhileRecordsGrew = false;
};

SweepResult SweepAllocations(const std::string& file, emulator::BoxBehaviour behaviour) {
    SweepResult result;
    {
        // Whatever the process sets up once is set up before the heap is watched.
        SimulatedBox box(behaviour);
        EXPECT_EQ(RunDownload("USB", file, box.status, box.Options(3000)), DownloadOutcome::Success);
    }
    for (std::size_t nth = 1;; ++nth) {
        const std::size_t heapBefore = MeasureProcess().heapBytes;
        std::vector<std::string> lines;
        DownloadOutcome outcome;
        bool deviceOpen = false;
        bool failed = false;
        {
            SimulatedBox box(behaviour);
            PausingUsbDriver driver(box.driver);
            SessionOptions options = box.Options(3000);
            options.usbDriver = &driver;
            FailNthAllocation(nth);
            outcome = RunDownload("USB", file, box.status, options);
            failed = AllocationFailed();
            FailNthAllocation(0);
            lines = box.status.lines();
            deviceOpen = box.driver.IsOpen(box.slot);
        }
        EXPECT_FALSE(deviceOpen) << "allocation " << nth;
        if (!failed) {
            // More allocations armed than the download makes: it went through untouched.
            EXPECT_EQ(outcome, DownloadOutcome::Success);
            EXPECT_EQ(lines.back(), "FLASHING SUCCESSFULL");
            return result;
        }
        ++result.failurePoints;
        EXPECT_EQ(outcome, DownloadOutcome::DataFailed) << "allocation " << nth;
        if (lines.empty() || lines.back() != "Error: out of memory") {
            ADD_FAILURE() << "allocation " << nth << ": last line "
                          << (lines.empty() ? std::string("(none)") : lines.back());
            return result;
        }
        if (lines.size() >= 2 && lines[lines.size() - 2] == "Analysing sourcefile... ") {
            result.failedWhileRecordsGrew = true;
        }
        std::vector<std::string>().swap(lines);
        EXPECT_LE(MeasureProcess().heapBytes, heapBefore) << "allocation " << nth << " leaked";
    }
}

TEST(OutOfMemory, AnyAllocationOfAnSRecordDownloadWithReadBackMayFail) {
    const FaultFirmware files;
    const SweepResult result = SweepAllocations(files.mot, {});
    EXPECT_GT(result.failurePoints, 10u);
    EXPECT_TRUE(result.failedWhileRecordsGrew);
}

TEST(OutOfMemory, AnyAllocationOfABinaryDownloadMayFail) {
    const FaultFirmware files;
    const SweepResult result = SweepAllocations(files.bin, {.firmwareType = 2});
    EXPECT_GT(result.failurePoints, 10u);
    EXPECT_TRUE(result.failedWhileRecordsGrew);
}

// A driver that runs out of memory while it sets the line up, after the device
// opened: the device must still be released.
class OutOfMemoryInTheSettings : public PausingUsbDriver {
public:
    using PausingUsbDriver::PausingUsbDriver;
    UsbStatus SetDataCharacteristics(UsbHandle, std::uint8_t, std::uint8_t, std::uint8_t) override {
        throw std::bad_alloc();
    }
};

TEST(OutOfMemory, InTheDriverWhileTheLineIsSetUpTheDeviceIsReleased) {
    const FaultFirmware files;
    SimulatedBox box;
    OutOfMemoryInTheSettings driver(box.driver);
    SessionOptions options = box.Options(3000);
    options.usbDriver = &driver;
    EXPECT_EQ(RunDownload("USB", files.mot, box.status, options), DownloadOutcome::DataFailed);
    EXPECT_EQ(box.status.lines().back(), "Error: out of memory");
    EXPECT_FALSE(box.driver.IsOpen(box.slot));
}

}  // namespace
}  // namespace kestrel::testing
