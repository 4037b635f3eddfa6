#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "links/UsbDriver.h"

namespace kestrel {

// Byte transport to the box over its USB serial chip, through a UsbDriver.
class UsbLink {
public:
    // Bounds of a Read once a byte is waiting, the same as the serial link's.
    static constexpr std::uint32_t kReadIdleMs = 500;
    static constexpr std::uint32_t kReadMsPerByte = 5;
    static constexpr std::uint32_t kReadExtraMs = 10;

    explicit UsbLink(UsbDriver& driver) : driver_(driver) {}
    ~UsbLink();
    UsbLink(const UsbLink&) = delete;
    UsbLink& operator=(const UsbLink&) = delete;

    bool Open(std::int32_t index, std::uint32_t baudRate, std::uint8_t parity, std::uint8_t stopBits,
              std::uint8_t wordLength);
    // True when the device is closed afterwards (or was not open).
    bool Close();
    // False when the library refused the write or wrote fewer bytes.
    bool Write(const std::uint8_t* data, std::uint32_t count);
    // 0 at once when nothing is waiting; otherwise reads up to `count` bytes and
    // returns when they arrived, or 500 ms passed after a byte with no new one, or
    // 5 x count + 10 ms passed since the call, with the number of bytes read.
    std::int32_t Read(std::uint8_t* buffer, std::uint32_t count);
    // Blocks in the library up to `timeoutMs` for up to `count` bytes; the count read.
    std::int32_t WaitRead(std::uint8_t* buffer, std::uint32_t count, std::uint32_t timeoutMs);

    std::int32_t CountDevices();
    bool EnumerateDevices();
    void PrepareForSync();

    // Why the last Open failed, as the driver said with that open (None after
    // one that opened, and after line settings the device refused).
    UsbOpenProblem OpenProblem() const { return openProblem_; }

    bool IsOpen() const { return open_; }
    // The library failed a read or write since the open: the device is gone.
    bool IsBroken() const { return broken_; }

    // Process-wide: set once the library has listed the devices, never cleared
    // except by tests that start a new simulated process.
    // Atomic: the boxes of a gang open their links on threads of their own.
    static std::atomic<bool> DevicesListed;
    // Forgets the listing, as a new process would: for tests only.
    static void ForgetDeviceListing() { DevicesListed = false; }

private:
    bool Usable() const { return open_ && !broken_; }
    // Closes a device that opened but would not take the line settings.
    void Release(UsbHandle handle);
    // Retries closing devices whose release the library refused; true when none is left.
    bool CloseUnreleased();

    UsbDriver& driver_;
    UsbHandle handle_ = kNoUsbHandle;
    bool open_ = false;
    bool broken_ = false;
    UsbOpenProblem openProblem_ = UsbOpenProblem::None;
    std::vector<UsbHandle> unreleased_;
};

}  // namespace kestrel
