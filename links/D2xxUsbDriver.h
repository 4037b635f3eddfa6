#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "links/UsbDriver.h"

namespace kestrel {

// The UsbDriver for the box's chip on Windows, through the chip vendor's D2XX
// library. The library is loaded by name when first needed, not imported, so
// that the tool starts without it: then every call fails with kNoLibrary and
// the open problem is UsbOpenProblem::NoDriver.
class D2xxUsbDriver : public UsbDriver {
public:
    // Below this the chip holds single answer bytes back for up to 16 ms.
    static constexpr unsigned char kLatencyTimerMs = 2;
    // Bounds one library write; the link's own bounds are shorter for small blocks.
    static constexpr std::uint32_t kWriteTimeoutMs = 5000;

    // Statuses beyond the library's own (which are small positive numbers).
    static constexpr UsbStatus kNoLibrary = kUsbNoDriver;  // the library is missing or lacks a call
    static constexpr UsbStatus kBadSetting = 1001;

    // `libraryName`: the file to load; another name lets tests load a stand-in.
    explicit D2xxUsbDriver(std::wstring libraryName = L"FTD2XX.dll");
    ~D2xxUsbDriver() override;
    D2xxUsbDriver(const D2xxUsbDriver&) = delete;
    D2xxUsbDriver& operator=(const D2xxUsbDriver&) = delete;

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

private:
    struct Library;
    // The loaded library with every call found, or null when it cannot be used.
    const Library* Calls();

    std::wstring libraryName_;
    std::once_flag loading_;
    std::unique_ptr<Library> library_;
    mutable std::mutex mutex_;                         // guards what follows
    std::map<UsbHandle, std::uint32_t> readTimeouts_;  // per open device, the read time-out last set
};

}  // namespace kestrel
