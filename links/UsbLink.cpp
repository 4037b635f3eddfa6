#include "links/UsbLink.h"

#include <algorithm>
#include <limits>

namespace kestrel {

std::atomic<bool> UsbLink::DevicesListed{false};

UsbLink::~UsbLink() { Close(); }

std::int32_t UsbLink::CountDevices() {
    std::uint32_t count = 0;
    if (driver_.CountDevices(count) != 0) {
        return -1;
    }
    return static_cast<std::int32_t>(std::min<std::uint32_t>(count, std::numeric_limits<std::int32_t>::max()));
}

bool UsbLink::EnumerateDevices() {
    if (DevicesListed) {
        return true;
    }
    std::uint32_t count = 0;
    if (const UsbStatus status = driver_.CountDevices(count); status != 0) {
        openProblem_ = ProblemOfListing(status);
        return false;
    }
    // The descriptions are not compared with anything; the listing only has to succeed.
    std::vector<UsbDeviceInfo> devices;
    devices.reserve(count);
    if (const UsbStatus status = driver_.ListDevices(devices); status != 0) {
        openProblem_ = ProblemOfListing(status);
        return false;
    }
    DevicesListed = true;
    return true;
}

void UsbLink::Release(UsbHandle handle) {
    if (driver_.Close(handle) != 0) {
        unreleased_.push_back(handle);
    }
}

bool UsbLink::CloseUnreleased() {
    std::erase_if(unreleased_, [this](UsbHandle handle) { return driver_.Close(handle) == 0; });
    return unreleased_.empty();
}

bool UsbLink::Open(std::int32_t index, std::uint32_t baudRate, std::uint8_t parity, std::uint8_t stopBits,
                   std::uint8_t wordLength) {
    openProblem_ = UsbOpenProblem::None;
    if (!EnumerateDevices()) {
        return false;
    }
    if (open_ && !Close()) {
        return false;
    }
    UsbHandle handle = kNoUsbHandle;
    if (driver_.Open(index, handle, openProblem_) != 0) {
        return false;
    }
    // Held as open from here on, so that a driver that throws while the line is
    // set up still leaves a device that Close, and the destructor, release.
    handle_ = handle;
    open_ = true;
    broken_ = false;
    // A device that opened but refused the settings would stay claimed by this
    // process and block every later attempt at it, so it is released at once.
    if (driver_.SetBaudRate(handle, baudRate) != 0 ||
        driver_.SetDataCharacteristics(handle, wordLength, stopBits, parity) != 0) {
        open_ = false;
        handle_ = kNoUsbHandle;
        Release(handle);
        return false;
    }
    return true;
}

bool UsbLink::Close() {
    if (open_) {
        if (driver_.Close(handle_) != 0) {
            return false;
        }
        open_ = false;
        broken_ = false;
        handle_ = kNoUsbHandle;
    }
    return CloseUnreleased();
}

bool UsbLink::Write(const std::uint8_t* data, std::uint32_t count) {
    if (!Usable()) {
        return false;
    }
    if (count == 0) {
        return true;
    }
    std::uint32_t written = 0;
    if (driver_.Write(handle_, data, count, written) != 0) {
        broken_ = true;
        return false;
    }
    return written == count;
}

std::int32_t UsbLink::Read(std::uint8_t* buffer, std::uint32_t count) {
    if (!Usable() || count == 0) {
        return 0;
    }
    std::uint32_t waiting = 0;
    if (driver_.QueueStatus(handle_, waiting) != 0) {
        broken_ = true;
        return 0;
    }
    if (waiting == 0) {
        return 0;
    }

    // Bytes are waiting, but a longer answer may still be on its way; the read
    // ends at the serial link's bounds instead of waiting for `count` without end.
    Clock& clock = driver_.TimeBase();
    const std::uint64_t wholeBound = std::uint64_t{kReadMsPerByte} * count + kReadExtraMs;
    const std::uint32_t totalMs =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(wholeBound, std::numeric_limits<std::uint32_t>::max()));
    const std::uint32_t startMs = clock.TickMs();
    std::uint32_t lastByteMs = startMs;
    std::uint32_t got = 0;
    bool queueKnown = true;  // `waiting` is fresh on the first round
    while (got < count) {
        const std::uint32_t nowMs = clock.TickMs();
        const std::uint32_t elapsed = nowMs - startMs;
        const std::uint32_t idle = nowMs - lastByteMs;
        if (elapsed >= totalMs || idle >= kReadIdleMs) {
            break;
        }
        // What is queued is taken at once; otherwise the wait is for one byte,
        // so that its arrival is known and the idle time counts from it.
        if (!queueKnown && driver_.QueueStatus(handle_, waiting) != 0) {
            broken_ = true;
            break;
        }
        queueKnown = false;
        const std::uint32_t wanted = std::min(count - got, std::max<std::uint32_t>(waiting, 1));
        const std::uint32_t timeoutMs = std::min(totalMs - elapsed, kReadIdleMs - idle);
        std::uint32_t received = 0;
        const UsbStatus status = driver_.Read(handle_, buffer + got, wanted, received, timeoutMs);
        got += std::min(received, wanted);
        if (status != 0) {
            broken_ = true;
            break;
        }
        if (received > 0) {
            lastByteMs = clock.TickMs();
        }
    }
    return static_cast<std::int32_t>(std::min<std::uint32_t>(got, std::numeric_limits<std::int32_t>::max()));
}

std::int32_t UsbLink::WaitRead(std::uint8_t* buffer, std::uint32_t count, std::uint32_t timeoutMs) {
    if (!Usable() || count == 0) {
        return 0;
    }
    std::uint32_t received = 0;
    if (driver_.Read(handle_, buffer, count, received, timeoutMs) != 0) {
        broken_ = true;
    }
    received = std::min(received, count);
    return static_cast<std::int32_t>(std::min<std::uint32_t>(received, std::numeric_limits<std::int32_t>::max()));
}

void UsbLink::PrepareForSync() {
    if (Usable()) {
        // Whatever the purge reports, the synchronisation goes on: it copes with stray bytes.
        static_cast<void>(driver_.PrepareForSync(handle_));
    }
}

}  // namespace kestrel
