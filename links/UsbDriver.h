#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Clock.h"

namespace kestrel {

// The operations the USB link needs of the vendor's device library, named after
// what they do. Every call returns 0 on success, a non-zero status otherwise.
using UsbStatus = std::int32_t;
using UsbHandle = std::intptr_t;
constexpr UsbHandle kNoUsbHandle = 0;

struct UsbDeviceInfo {
    int index = 0;
    std::string description;
    std::string serialNumber;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

// Why the last failed open failed, for a hint to the user beyond the status line.
// NoDriver: the system lacks the vendor's device library the driver works through.
enum class UsbOpenProblem { None, NoDevice, AccessDenied, Busy, NoDriver, Other };

class UsbDriver {
public:
    virtual ~UsbDriver() = default;

    virtual UsbStatus CountDevices(std::uint32_t& count) = 0;
    virtual UsbStatus ListDevices(std::vector<UsbDeviceInfo>& devices) = 0;
    virtual UsbStatus Open(int index, UsbHandle& handle) = 0;
    virtual UsbStatus Close(UsbHandle handle) = 0;
    virtual UsbStatus SetBaudRate(UsbHandle handle, std::uint32_t baudRate) = 0;
    virtual UsbStatus SetDataCharacteristics(UsbHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                             std::uint8_t parity) = 0;
    virtual UsbStatus Write(UsbHandle handle, const std::uint8_t* data, std::uint32_t count,
                            std::uint32_t& written) = 0;
    // Blocks until `count` bytes arrived or `timeoutMs` passed since the call.
    virtual UsbStatus Read(UsbHandle handle, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received,
                           std::uint32_t timeoutMs) = 0;
    // Bytes received and not yet read; never blocks.
    virtual UsbStatus QueueStatus(UsbHandle handle, std::uint32_t& waiting) = 0;
    // Made just before each synchronisation: drops what the receive side holds.
    virtual UsbStatus PrepareForSync(UsbHandle handle) = 0;

    virtual UsbOpenProblem LastOpenProblem() const { return UsbOpenProblem::None; }

    // The time in which the driver's time-outs pass: the link measures its own
    // read bounds on it, so a simulated device with a manual clock stays consistent.
    virtual Clock& TimeBase() = 0;
};

// The process's driver for real devices (libftdi1).
UsbDriver& SystemUsbDriver();

}  // namespace kestrel
