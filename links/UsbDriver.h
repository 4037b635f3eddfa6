#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Clock.h"

namespace kestrel {

using UsbStatus = std::int32_t;
using UsbHandle = std::intptr_t;
constexpr UsbHandle kNoUsbHandle = 0;

// Why an open failed, for a hint to the user beyond the status line.
// NoDriver: the system lacks the vendor's device library the driver works through.
enum class UsbOpenProblem { None, NoDevice, AccessDenied, Busy, NoDriver, Other };

// The one status every driver gives the same meaning: the vendor's device
// library it works through is missing or unusable, so nothing could be tried.
constexpr UsbStatus kUsbNoDriver = 1000;

// Why a device could not be opened or listed, when its status is all there is.
inline UsbOpenProblem ProblemOfListing(UsbStatus status) {
    return status == kUsbNoDriver ? UsbOpenProblem::NoDriver : UsbOpenProblem::NoDevice;
}

struct UsbDeviceInfo {
    int index = 0;
    std::string description;
    std::string serialNumber;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    // Why the listing could not open the device to read its strings (then
    // empty): a box named by its serial number is not found for this reason.
    UsbOpenProblem openProblem = UsbOpenProblem::None;
};

// The operations the USB link needs of the vendor's device library, named after
// what they do.
//
// Statuses: every call returns 0 on success. A non-zero status is the driver's
// own code (the library's, or one of the driver's constants; kUsbNoDriver is
// shared) and means the call did not do its work: the counts it hands back
// (`count`, `written`, `received`, `waiting`) say what did happen, nothing else
// may be relied on. A status is for logs and tests; what a user can act on is
// the UsbOpenProblem that Open hands back with its own status.
//
// Threads: CountDevices, ListDevices and Open may run on any threads at once,
// with each other and with calls on open devices: the boxes of a gang open on
// threads of their own. Calls on different handles may run at once. The calls
// on one handle come from one thread at a time (its link's), and Close does not
// overlap another call on its handle.
//
// Close: a failed Close leaves the device open and its handle valid, so the
// caller may try Close again later (UsbLink does, before its next open); the
// handle is good for nothing else. After a successful Close the handle is dead.
class UsbDriver {
public:
    virtual ~UsbDriver() = default;

    virtual UsbStatus CountDevices(std::uint32_t& count) = 0;
    virtual UsbStatus ListDevices(std::vector<UsbDeviceInfo>& devices) = 0;
    // `problem` is this open's reason when it fails (None when it opens): a
    // value of this call, never of the process, as another thread may open too.
    virtual UsbStatus Open(int index, UsbHandle& handle, UsbOpenProblem& problem) = 0;
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

    // The time in which the driver's time-outs pass: the link measures its own
    // read bounds on it, so a simulated device with a manual clock stays consistent.
    virtual Clock& TimeBase() = 0;
};

// The process's driver for real devices (libftdi1).
UsbDriver& SystemUsbDriver();

}  // namespace kestrel
