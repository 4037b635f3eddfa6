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
    UsbStatus Open(int index, UsbHandle& h, UsbOpenProblem& why) override { return Inner().Open(index, h, why); }
    UsbStatus Close(UsbHandle h) override { return Inner().Close(h); }
    UsbStatus SetBaudRate(UsbHandle h, std::uint32_t baud) override { return Inner().SetBaudRate(h, baud); }
    // The line set-up, after the device opened, may run out of memory itself, as
    // a real driver's may: the device must be released all the same.
    UsbStatus SetDataCharacteristics(UsbHandle h, std::uint8_t bits, std::uint8_t stop, std::uint8_t parity) override {
        ::operator delete(::operator new(1));  // a call, which no compiler leaves out as it may a new-expression
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
    Clock& TimeBase() override { return inner_.TimeBase(); }

private:
    // The default argument lives to the end of the call it is part of: the
    // inner driver's whole call runs with faults paused.
    UsbDriver& Inner(AllocationFaultsPaused&& = AllocationFaultsPaused()) { return inner_; }

    UsbDriver& inner_;
};

// How the boxes of one download with an allocation armed ended.
struct ArmedRun {
    bool failed = false;            // the armed allocation failed
    std::size_t outOfMemory = 0;    // boxes that said so
    bool whileRecordsGrew = false;  // one of them right after the analysis began
};

// One download of `file` into `count` boxes with the nth allocation armed: a
// plain download for one box, on a manual clock; for more, a gang download of
// the image built beforehand, in real time (a manual clock is no thread's to
// share). Every box must end flashed or with "Error: out of memory", its device closed.
ArmedRun RunArmed(const std::string& file, const emulator::BoxBehaviour& behaviour, std::size_t count,
                  std::size_t nth) {
    ManualClock manual;
    emulator::SimulatedUsbDriver simulated(count == 1 ? static_cast<Clock&>(manual) : SteadyClock());
    PausingUsbDriver driver(simulated);
    UsbLink::ForgetDeviceListing();
    std::vector<RecordingStatusList> lists(count);
    std::vector<GangBox> boxes(count);
    for (std::size_t i = 0; i < count; ++i) {
        simulated.AddDevice(emulator::SimulatedUsbDevice{.behaviour = behaviour});
        // A box that asks for the same block without end fails the sweep at once, in a gang too.
        const SessionOptions options{
            .usbDriver = &driver, .answerTimeoutMs = 3000, .cancelRequested = SimulatedBox::Bounded()};
        boxes[i] = {.linkName = "USB:" + std::to_string(i), .status = &lists[i], .options = options};
    }
    boxes[0].options.clock = &manual;
    GangImage image;
    EXPECT_TRUE(count == 1 || PrepareGangImage(file, lists[0], image) == DownloadOutcome::Success);
    lists[0].Clear();
    std::vector<DownloadOutcome> outcomes(count);
    FailNthAllocation(nth);
    try {
        if (count == 1)
            outcomes[0] = RunDownload(boxes[0].linkName, file, lists[0], boxes[0].options);
        else
            for (std::size_t i = 0; const auto& result : RunGangDownload(image, boxes))
                outcomes[i++] = result.outcome;
    } catch (const std::bad_alloc&) {
        // Only before any box was touched: each is left as it was.
        for (std::size_t i = 0; i < count; ++i)
            EXPECT_TRUE(lists[i].lines().empty() && simulated.Written(i).empty());
        outcomes.clear();
    }
    ArmedRun run{.failed = AllocationFailed()};
    FailNthAllocation(0);
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_FALSE(simulated.IsOpen(i));
        const Lines lines = lists[i].lines();
        const std::string last = lines.empty() ? "(none)" : lines.back();
        if (outcomes[i] == DownloadOutcome::Success && last == "FLASHING SUCCESSFULL")
            continue;
        EXPECT_EQ(outcomes[i], DownloadOutcome::DataFailed);
        EXPECT_EQ(last, "Error: out of memory");
        ++run.outOfMemory;
        run.whileRecordsGrew |= lines.size() >= 2 && lines[lines.size() - 2] == "Analysing sourcefile... ";
    }
    return run;
}

// Sweeps the allocations of one download into `count` boxes, up to the first
// failure; returns whether one of them failed while the records grew.
bool SweepAllocations(const std::string& file, emulator::BoxBehaviour behaviour, std::size_t count = 1) {
    SCOPED_TRACE(file + " into " + std::to_string(count) + " box(es)");
    // Whatever the process sets up once is set up before the heap is watched.
    EXPECT_EQ(RunArmed(file, behaviour, count, 0).outOfMemory, 0u);
    bool whileRecordsGrew = false;
    for (std::size_t nth = 1; !::testing::Test::HasFailure(); ++nth) {
        SCOPED_TRACE("allocation " + std::to_string(nth));
        const std::size_t heapBefore = MeasureProcess().heapBytes;
        const ArmedRun run = RunArmed(file, behaviour, count, nth);
        EXPECT_LE(MeasureProcess().heapBytes, heapBefore) << "leaked";
        if (!run.failed) {
            // More allocations armed than the download makes: it went through untouched.
            EXPECT_EQ(run.outOfMemory, 0u);
            EXPECT_GT(nth - 1, 10u) << "allocations that failed";
            break;
        }
        // One box runs out, and a single download must say so.
        EXPECT_TRUE(run.outOfMemory == 1 || (count > 1 && run.outOfMemory == 0)) << run.outOfMemory;
        whileRecordsGrew |= run.whileRecordsGrew;
    }
    return whileRecordsGrew;
}

TEST(OutOfMemory, AnyAllocationOfAnSRecordOrBinaryOrGangDownloadMayFail) {
    const FirmwareFiles files;
    // A sweep that failed is followed by none: each would fail alike, the gang's after its bounds in real time.
    ASSERT_TRUE(SweepAllocations(files.mot, {}));
    ASSERT_TRUE(SweepAllocations(files.bin, {.firmwareType = 2}));
    SweepAllocations(files.mot, {}, 3);
}

}  // namespace
}  // namespace kestrel::testing
