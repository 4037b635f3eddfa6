#pragma once

#include <cstdint>
#include <vector>

#include "FailingAllocator.h"
#include "links/UsbDriver.h"

namespace kestrel::testing {

// Hands every call on to another driver with allocation faults paused, so that
// memory runs out in the tool only, never inside the simulated device.
class PausingUsbDriver : public UsbDriver {
public:
    explicit PausingUsbDriver(UsbDriver& inner) : inner_(inner) {}

    UsbStatus CountDevices(std::uint32_t& count) override {
        AllocationFaultsPaused paused;
        return inner_.CountDevices(count);
    }
    UsbStatus ListDevices(std::vector<UsbDeviceInfo>& devices) override {
        AllocationFaultsPaused paused;
        return inner_.ListDevices(devices);
    }
    UsbStatus Open(int index, UsbHandle& handle) override {
        AllocationFaultsPaused paused;
        return inner_.Open(index, handle);
    }
    UsbStatus Close(UsbHandle handle) override {
        AllocationFaultsPaused paused;
        return inner_.Close(handle);
    }
    UsbStatus SetBaudRate(UsbHandle handle, std::uint32_t baudRate) override {
        AllocationFaultsPaused paused;
        return inner_.SetBaudRate(handle, baudRate);
    }
    UsbStatus SetDataCharacteristics(UsbHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                     std::uint8_t parity) override {
        AllocationFaultsPaused paused;
        return inner_.SetDataCharacteristics(handle, wordLength, stopBits, parity);
    }
    UsbStatus Write(UsbHandle handle, const std::uint8_t* data, std::uint32_t count,
                    std::uint32_t& written) override {
        AllocationFaultsPaused paused;
        return inner_.Write(handle, data, count, written);
    }
    UsbStatus Read(UsbHandle handle, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received,
                   std::uint32_t timeoutMs) override {
        AllocationFaultsPaused paused;
        return inner_.Read(handle, buffer, count, received, timeoutMs);
    }
    UsbStatus QueueStatus(UsbHandle handle, std::uint32_t& waiting) override {
        AllocationFaultsPaused paused;
        return inner_.QueueStatus(handle, waiting);
    }
    UsbStatus PrepareForSync(UsbHandle handle) override {
        AllocationFaultsPaused paused;
        return inner_.PrepareForSync(handle);
    }
    UsbOpenProblem LastOpenProblem() const override { return inner_.LastOpenProblem(); }
    Clock& TimeBase() override { return inner_.TimeBase(); }

private:
    UsbDriver& inner_;
};

}  // namespace kestrel::testing
