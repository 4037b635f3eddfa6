#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "links/UsbDriver.h"

namespace kestrel {

// The UsbDriver for real FTDI chips, through libftdi1 and libusb. Without a
// device, or without a USB bus at all, every call fails at once with a status.
class FtdiUsbDriver : public UsbDriver {
public:
    // Below this the chip holds single answer bytes back for up to 16 ms.
    static constexpr unsigned char kLatencyTimerMs = 2;
    // The chip ends a queued transfer after the latency timer even without data,
    // so a poll of the receive queue rarely waits this long; it only bounds it.
    static constexpr int kUsbReadTimeoutMs = 50;

    // `systemRoot`: where sysfs and /dev are, to find the tty of a chip (tests give a fake tree);
    // `clock`: what the reads' time-outs are measured on.
    explicit FtdiUsbDriver(std::string systemRoot = "/", Clock& clock = SteadyClock());
    ~FtdiUsbDriver() override;
    FtdiUsbDriver(const FtdiUsbDriver&) = delete;
    FtdiUsbDriver& operator=(const FtdiUsbDriver&) = delete;

    UsbStatus CountDevices(std::uint32_t& count) override;
    UsbStatus ListDevices(std::vector<UsbDeviceInfo>& devices) override;
    UsbStatus Open(int index, UsbHandle& handle, UsbOpenProblem& problem) override;
    UsbStatus Close(UsbHandle handle) override;
    UsbStatus SetBaudRate(UsbHandle handle, std::uint32_t baudRate) override;
    UsbStatus SetDataCharacteristics(UsbHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                     std::uint8_t parity) override;
    UsbStatus Write(UsbHandle handle, const std::uint8_t* data, std::uint32_t count, std::uint32_t& written) override;
    UsbStatus Read(UsbHandle handle, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received,
                   std::uint32_t timeoutMs) override;
    UsbStatus QueueStatus(UsbHandle handle, std::uint32_t& waiting) override;
    UsbStatus PrepareForSync(UsbHandle handle) override;

    Clock& TimeBase() override;

    // Statuses of this driver beyond libftdi1's own (negative) ones.
    static constexpr UsbStatus kNoContext = 1;     // libusb could not start: no USB bus
    static constexpr UsbStatus kNoSuchDevice = 2;  // the index is past the attached devices
    static constexpr UsbStatus kBadHandle = 3;     // not a handle of an open device
    static constexpr UsbStatus kBadSetting = 4;    // a line setting libftdi1 does not know
    static constexpr UsbStatus kTtyInUse = 5;      // a program holds the chip's tty: it is not taken from it

private:
    struct Device;
    Device* Find(UsbHandle handle);

    std::mutex mutex_;  // guards the device table
    std::map<UsbHandle, std::unique_ptr<Device>> devices_;
    UsbHandle nextHandle_ = 1;
    std::string systemRoot_;
    Clock& clock_;
};

}  // namespace kestrel
