#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "FailingAllocator.h"
#include "ProcessResources.h"
#include "session/DownloadWorkflow.h"
#include "station/GangDownload.h"
#include "support/Firmware.h"
#include "support/SimulatedBox.h"

// Memory that runs out anywhere in the tool during a download: each of its
// allocations in turn fails once. Every time the download must end with
// "Error: out of memory", the device closed, nothing leaked.
namespace kestrel::testing {
namespace {

// Hands every call on to another driver with allocation faults paused, so that
// memory runs out in the tool only, never inside the simulated device.
class PausingUsbDriver : public UsbDriver {
public:
    explicit PausingUsbDriver(UsbDriver& inner) : inner_(inner) {}

    UsbStatus CountDevices(std::uint32_t& n) override { return Inner().CountDevices(n); }
    UsbStatus ListDevices(std::vector<UsbDeviceInfo>& devices) override { return Inner().ListDevices(devices); }
    UsbStatus Open(int index, UsbHandle& h) override { return Inner().Open(index, h); }
    UsbStatus Close(UsbHandle h) override { return Inner().Close(h); }
    UsbStatus SetBaudRate(UsbHandle h, std::uint32_t baud) override { return Inner().SetBaudRate(h, baud); }
    UsbStatus SetDataCharacteristics(UsbHandle h, std::uint8_t bits, std::uint8_t stop, std::uint8_t parity) override {
        return Inner().SetDataCharacteristics(h, bits, stop, parity);
    }
    UsbStatus Write(UsbHandle h, const std::uint8_t* data, std::uint32_t n, std::uint32_t& done) override {
        return Inner().Write(h, data, n, done);
    }
    UsbStatus Read(UsbHandle h, std::uint8_t* into, std::uint32_t n, std::uint32_t& done, std::uint32_t ms) override {
        return Inner().Read(h, into, n, done, ms);
    }
    UsbStatus QueueStatus(UsbHandle h, std::uint32_t& n) override { return Inner().QueueStatus(h, n); }
    UsbStatus PrepareForSync(UsbHandle h) override { return Inner().PrepareForSync(h); }
    UsbOpenProblem LastOpenProblem() const override { return inner_.LastOpenProblem(); }
    Clock& TimeBase() override { return inner_.TimeBase(); }

private:
    // The default argument lives to the end of the call it is part of: the
    // inner driver's whole call runs with faults paused.
    UsbDriver& Inner(AllocationFaultsPaused&& = AllocationFaultsPaused()) { return inner_; }

    UsbDriver& inner_;
};

struct BoxEnd {
    DownloadOutcome outcome = DownloadOutcome::Cancelled;
    std::vector<std::string> lines;
};

// One download of `file` into `count` boxes with the nth allocation armed: a
// plain download for one box, on a manual clock; for more, a gang download of
// the image built beforehand, in real time (a manual clock is no thread's to
// share). Every box's device must be closed after.
std::vector<BoxEnd> RunArmed(const std::string& file, const emulator::BoxBehaviour& behaviour, std::size_t count,
                             std::size_t nth, bool& failed) {
    ManualClock manual;
    emulator::SimulatedUsbDriver simulated(count == 1 ? static_cast<Clock&>(manual) : SteadyClock());
    PausingUsbDriver driver(simulated);
    UsbLink::ForgetDeviceListing();
    std::vector<RecordingStatusList> lists(count);
    std::vector<GangBox> boxes(count);
    for (std::size_t i = 0; i < count; ++i) {
        simulated.AddDevice(emulator::SimulatedUsbDevice{.behaviour = behaviour});
        boxes[i] = {.linkName = "USB:" + std::to_string(i), .status = &lists[i], .options = {}};
        boxes[i].options.usbDriver = &driver;
        boxes[i].options.answerTimeoutMs = 3000;
        // A box that asks for the same block without end fails the sweep at once, in a gang too.
        boxes[i].options.cancelRequested = SimulatedBox::Bounded();
    }
    boxes[0].options.clock = &manual;
    GangImage image;
    EXPECT_TRUE(count == 1 || PrepareGangImage(file, lists[0], image) == DownloadOutcome::Success);
    lists[0].Clear();
    std::vector<BoxEnd> ends(count);
    FailNthAllocation(nth);
    try {
        if (count == 1)
            ends[0].outcome = RunDownload(boxes[0].linkName, file, lists[0], boxes[0].options);
        else
            for (std::size_t i = 0; const auto& result : RunGangDownload(image, boxes))
                ends[i++].outcome = result.outcome;
    } catch (const std::bad_alloc&) {
        // Only before any box was touched: each is left as it was.
        for (std::size_t i = 0; i < count; ++i)
            EXPECT_TRUE(lists[i].lines().empty() && simulated.Written(i).empty());
        ends.clear();
    }
    failed = AllocationFailed();
    FailNthAllocation(0);
    for (std::size_t i = 0; i < ends.size(); ++i) {
        ends[i].lines = lists[i].lines();
        EXPECT_FALSE(simulated.IsOpen(i));
    }
    return ends;
}

// Sweeps the allocations of one download into `count` boxes; returns whether
// one of them failed while the records grew (the line before the error is the analysis').
bool SweepAllocations(const std::string& file, emulator::BoxBehaviour behaviour, std::size_t count = 1) {
    SCOPED_TRACE(file + " into " + std::to_string(count) + " box(es)");
    bool failed = false;
    // Whatever the process sets up once is set up before the heap is watched.
    for (const auto& end : RunArmed(file, behaviour, count, 0, failed))
        EXPECT_EQ(end.outcome, DownloadOutcome::Success);
    bool failedWhileRecordsGrew = false;
    for (std::size_t nth = 1;; ++nth) {
        SCOPED_TRACE("allocation " + std::to_string(nth));
        const std::size_t heapBefore = MeasureProcess().heapBytes;
        auto ends = RunArmed(file, behaviour, count, nth, failed);
        // Each box ends with its line: flashed, or out of memory (one box at most).
        std::size_t outOfMemory = 0;
        for (const auto& end : ends) {
            const std::string last = end.lines.empty() ? "(none)" : end.lines.back();
            if (end.outcome == DownloadOutcome::Success && last == "FLASHING SUCCESSFULL")
                continue;
            if (end.outcome != DownloadOutcome::DataFailed || last != "Error: out of memory") {
                ADD_FAILURE() << "last line " << last;
                return failedWhileRecordsGrew;
            }
            ++outOfMemory;
            failedWhileRecordsGrew |=
                end.lines.size() >= 2 && end.lines[end.lines.size() - 2] == "Analysing sourcefile... ";
        }
        if (!failed) {
            // More allocations armed than the download makes: it went through untouched.
            EXPECT_EQ(outOfMemory, 0u);
            EXPECT_GT(nth - 1, 10u) << "allocations that failed";
            return failedWhileRecordsGrew;
        }
        EXPECT_LE(outOfMemory, 1u);
        EXPECT_TRUE(count > 1 || outOfMemory == 1) << "a failed allocation goes unreported";
        std::vector<BoxEnd>().swap(ends);
        EXPECT_LE(MeasureProcess().heapBytes, heapBefore) << "leaked";
    }
}

TEST(OutOfMemory, AnyAllocationOfAnSRecordOrBinaryOrGangDownloadMayFail) {
    const FirmwareFiles files;
    EXPECT_TRUE(SweepAllocations(files.mot, {}));
    EXPECT_TRUE(SweepAllocations(files.bin, {.firmwareType = 2}));
    SweepAllocations(files.mot, {}, 3);
}

// A driver that runs out of memory while it sets the line up, after the device
// opened: the device must still be released.
TEST(OutOfMemory, InTheDriverWhileTheLineIsSetUpTheDeviceIsReleased) {
    struct ThrowingDriver : PausingUsbDriver {
        using PausingUsbDriver::PausingUsbDriver;
        UsbStatus SetDataCharacteristics(UsbHandle, std::uint8_t, std::uint8_t, std::uint8_t) override {
            throw std::bad_alloc();
        }
    };
    const FirmwareFiles files;
    SimulatedBox box;
    ThrowingDriver driver(box.driver);
    SessionOptions options = box.Options(3000);
    options.usbDriver = &driver;
    EXPECT_EQ(RunDownload("USB", files.mot, box.status, options), DownloadOutcome::DataFailed);
    EXPECT_EQ(box.status.lines().back(), "Error: out of memory");
    EXPECT_FALSE(box.driver.IsOpen(box.slot));
}

}  // namespace
}  // namespace kestrel::testing
