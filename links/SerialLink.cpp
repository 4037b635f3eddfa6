#include "links/SerialLink.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

namespace kestrel {

// What both platforms share: the state of the link and its guards. The device
// itself is in SerialLinkPosix.cpp and SerialLinkWin32.cpp.

SerialLink::SerialLink() = default;

SerialLink::~SerialLink() { Close(); }

bool SerialLink::Open(int port, std::uint32_t baudRate, std::uint8_t parity, std::uint8_t stopBits,
                      std::uint8_t byteSize) {
    const std::string device = DeviceForPort(port);
    if (device.empty()) {
        Close();
        openError_ = ENOENT;
        return false;
    }
    return Open(device, baudRate, parity, stopBits, byteSize);
}

bool SerialLink::Open(const std::string& device, std::uint32_t baudRate, std::uint8_t parity, std::uint8_t stopBits,
                      std::uint8_t byteSize) {
    Close();
    broken_ = false;
    openError_ = OpenPort(device, baudRate, parity, stopBits, byteSize);
    baudRate_ = baudRate;
    if (openError_ != 0) {
        // A device left half set up would keep the box's settings or its lock.
        ReleasePort(true);
    }
    return openError_ == 0;
}

void SerialLink::Close() {
    if (!port_) {
        return;
    }
    // A broken device takes nothing more: neither waited for nor set back.
    if (!broken_) {
        AwaitQueuedOutput();
    }
    ReleasePort(!broken_);
}

void SerialLink::AwaitQueuedOutput() const {
    const std::uint32_t queued = QueuedOutputBytes();
    if (baudRate_ == 0 || queued == 0) {
        return;
    }
    // Before the settings go back: a character takes at most 12 bit times (start, 8 data,
    // parity, 2 stop). Bounded, so that a stalled device cannot hold the close up.
    const std::uint64_t ms = std::uint64_t{queued} * 12 * 1000 / baudRate_ + 10;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::uint64_t>(ms, 1000)));
}

void SerialLink::WaitUntilSent() {
    if (port_ && !broken_) {
        DrainPort();
    }
}

bool SerialLink::Write(const std::uint8_t* data, std::uint32_t count) {
    if (!port_ || broken_) {
        return false;
    }
    return count == 0 || WritePort(data, count);
}

std::int32_t SerialLink::Read(std::uint8_t* buffer, std::uint32_t count) { return Read(buffer, count, UINT32_MAX); }

std::int32_t SerialLink::Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t maxWaitMs) {
    if (!port_ || broken_ || count == 0) {
        return 0;
    }
    // The count is returned as a signed number.
    return ReadPort(buffer, std::min<std::uint32_t>(count, INT32_MAX), maxWaitMs);
}

}  // namespace kestrel
