#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "FailingAllocator.h"
#include "FaultFirmware.h"
#include "ProcessResources.h"
#include "session/DownloadWorkflow.h"
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

    UsbStatus CountDevices(std::uint32_t& count) override {
        return Paused([&] { return inner_.CountDevices(count); });
    }
    UsbStatus ListDevices(std::vector<UsbDeviceInfo>& devices) override {
        return Paused([&] { return inner_.ListDevices(devices); });
    }
    UsbStatus Open(int index, UsbHandle& handle) override {
        return Paused([&] { return inner_.Open(index, handle); });
    }
    UsbStatus Close(UsbHandle handle) override {
        return Paused([&] { return inner_.Close(handle); });
    }
    UsbStatus SetBaudRate(UsbHandle handle, std::uint32_t baudRate) override {
        return Paused([&] { return inner_.SetBaudRate(handle, baudRate); });
    }
    UsbStatus SetDataCharacteristics(UsbHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                     std::uint8_t parity) override {
        return Paused([&] { return inner_.SetDataCharacteristics(handle, wordLength, stopBits, parity); });
    }
    UsbStatus Write(UsbHandle handle, const std::uint8_t* data, std::uint32_t count, std::uint32_t& written) override {
        return Paused([&] { return inner_.Write(handle, data, count, written); });
    }
    UsbStatus Read(UsbHandle handle, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received,
                   std::uint32_t timeoutMs) override {
        return Paused([&] { return inner_.Read(handle, buffer, count, received, timeoutMs); });
    }
    UsbStatus QueueStatus(UsbHandle handle, std::uint32_t& waiting) override {
        return Paused([&] { return inner_.QueueStatus(handle, waiting); });
    }
    UsbStatus PrepareForSync(UsbHandle handle) override {
        return Paused([&] { return inner_.PrepareForSync(handle); });
    }
    UsbOpenProblem LastOpenProblem() const override { return inner_.LastOpenProblem(); }
    Clock& TimeBase() override { return inner_.TimeBase(); }

private:
    template <class Call>
    static UsbStatus Paused(Call call) {
        AllocationFaultsPaused paused;
        return call();
    }

    UsbDriver& inner_;
};

// Sweeps the allocations of one download; returns whether one of them failed
// while the records grew (the line before the error is the analysis').
bool SweepAllocations(const std::string& file, emulator::BoxBehaviour behaviour) {
    SCOPED_TRACE(file);
    {
        // Whatever the process sets up once is set up before the heap is watched.
        SimulatedBox box(behaviour);
        EXPECT_EQ(RunDownload("USB", file, box.status, box.Options(3000)), DownloadOutcome::Success);
    }
    bool failedWhileRecordsGrew = false;
    for (std::size_t nth = 1;; ++nth) {
        SCOPED_TRACE("allocation " + std::to_string(nth));
        const std::size_t heapBefore = MeasureProcess().heapBytes;
        std::vector<std::string> lines;
        DownloadOutcome outcome;
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
            EXPECT_FALSE(box.driver.IsOpen(box.slot));
        }
        if (!failed) {
            // More allocations armed than the download makes: it went through untouched.
            EXPECT_EQ(outcome, DownloadOutcome::Success);
            EXPECT_TRUE(!lines.empty() && lines.back() == "FLASHING SUCCESSFULL");
            EXPECT_GT(nth - 1, 10u) << "allocations that failed";
            return failedWhileRecordsGrew;
        }
        EXPECT_EQ(outcome, DownloadOutcome::DataFailed);
        if (lines.empty() || lines.back() != "Error: out of memory") {
            ADD_FAILURE() << "last line " << (lines.empty() ? std::string("(none)") : lines.back());
            return failedWhileRecordsGrew;
        }
        failedWhileRecordsGrew |= lines.size() >= 2 && lines[lines.size() - 2] == "Analysing sourcefile... ";
        std::vector<std::string>().swap(lines);
        EXPECT_LE(MeasureProcess().heapBytes, heapBefore) << "leaked";
    }
}

TEST(OutOfMemory, AnyAllocationOfAnSRecordOrBinaryDownloadMayFail) {
    const FaultFirmware files;
    EXPECT_TRUE(SweepAllocations(files.mot, {}));
    EXPECT_TRUE(SweepAllocations(files.bin, {.firmwareType = 2}));
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
