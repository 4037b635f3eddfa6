#include "tests/fuzz/ScriptedUsbDriver.h"

#include <algorithm>

namespace kestrel::fuzz {

namespace {

constexpr UsbHandle kHandle = 1;
constexpr UsbStatus kNoDevice = 2;
constexpr UsbStatus kBadHandle = 4;

constexpr std::uint8_t kCommonAnswers[8] = {0x01, 0x02, 'R', 'E', '*', 'N', 'S', 0x00};
constexpr std::uint32_t kAnswerPausesMs[4] = {0, 10, 1000, 25000};

}  // namespace

ScriptedUsbDriver::ScriptedUsbDriver(ManualClock& clock, const std::uint8_t* script, std::size_t size)
    : clock_(clock), script_(script), scriptSize_(size) {}

void ScriptedUsbDriver::SetReadBack(const std::uint8_t* bytes, std::uint32_t count) {
    readBack_ = bytes;
    readBackCount_ = count;
    readBackAt_ = 0;
}

void ScriptedUsbDriver::StartReadBack() { readingBack_ = true; }

std::uint8_t ScriptedUsbDriver::NextScriptByte() {
    return scriptAt_ < scriptSize_ ? script_[scriptAt_++] : 0;
}

void ScriptedUsbDriver::QueueReadBack(std::uint32_t count, bool changeOne, std::uint32_t changeAt) {
    const std::uint32_t rest = readBackCount_ - readBackAt_;
    count = std::min(count, rest);
    const std::uint32_t changed = count > 0 ? changeAt % count : 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t value = readBack_[readBackAt_ + i];
        if (changeOne && i == changed) {
            received_.push_back({static_cast<std::uint8_t>(value ^ 0x01), Origin::Changed});
        } else {
            received_.push_back({value, Origin::Faithful});
        }
    }
    readBackAt_ += count;
}

void ScriptedUsbDriver::ApplyEvent() {
    const std::uint8_t event = NextScriptByte();
    const std::uint32_t argument = event >> 3;
    switch (event & 0x07) {
    case 0: {
        const std::uint32_t count = argument % 8 + 1;
        for (std::uint32_t i = 0; i < count && scriptAt_ < scriptSize_; ++i) {
            received_.push_back({NextScriptByte(), Origin::Other});
        }
        break;
    }
    case 1:
    case 3: {
        const std::uint32_t nowMs = clock_.TickMs();
        const std::uint32_t elapsed = nowMs - pauseFromMs_;
        const std::uint32_t left = elapsed < pauseMs_ ? pauseMs_ - elapsed : 0;
        const std::uint32_t pause = (event & 0x07) == 1 ? argument * 1000 : kAnswerPausesMs[argument / 8];
        pauseFromMs_ = nowMs;
        pauseMs_ = left + pause;
        if ((event & 0x07) == 3) {
            received_.push_back({kCommonAnswers[argument % 8], Origin::Other});
        }
        break;
    }
    case 2:
        QueueReadBack(argument == 31 ? readBackCount_ : (argument + 1) * 2048, false, 0);
        break;
    case 4:
        QueueReadBack(readBackCount_, true, NextScriptByte() * 997u);
        break;
    case 5:
        gone_ = true;
        break;
    case 6:
        (argument % 2 == 0 ? failNextWrite_ : shortNextWrite_) = true;
        break;
    default:
        QueueReadBack(argument + 1, false, 0);
        break;
    }
}

void ScriptedUsbDriver::Pump() {
    while (received_.empty() && !gone_ && scriptAt_ < scriptSize_) {
        ApplyEvent();
    }
}

void ScriptedUsbDriver::Take(std::uint8_t* buffer, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const Pending byte = received_.front();
        received_.pop_front();
        buffer[i] = byte.value;
        if (readingBack_) {
            if (byte.origin == Origin::Faithful) {
                ++sinceReadBack_.faithful;
            } else {
                ++sinceReadBack_.other;
                sinceReadBack_.changed = sinceReadBack_.changed || byte.origin == Origin::Changed;
            }
        } else if (byte.origin == Origin::Faithful) {
            ++faithfulEarly_;
        } else if (byte.origin == Origin::Changed) {
            changedEarly_ = true;
        }
    }
}

UsbStatus ScriptedUsbDriver::CountDevices(std::uint32_t& count) {
    count = 1;
    return 0;
}

UsbStatus ScriptedUsbDriver::ListDevices(std::vector<UsbDeviceInfo>& devices) {
    devices.assign(1, UsbDeviceInfo{.index = 0, .description = "Kestrel box", .serialNumber = "FUZZ0001"});
    return 0;
}

UsbStatus ScriptedUsbDriver::Open(int index, UsbHandle& handle) {
    if (index != 0 || open_) {
        return kNoDevice;
    }
    open_ = true;
    handle = kHandle;
    return 0;
}

UsbStatus ScriptedUsbDriver::Close(UsbHandle handle) {
    if (handle != kHandle || !open_) {
        return kBadHandle;
    }
    open_ = false;
    return 0;
}

UsbStatus ScriptedUsbDriver::SetBaudRate(UsbHandle handle, std::uint32_t /*baudRate*/) {
    return handle == kHandle && open_ ? 0 : kBadHandle;
}

UsbStatus ScriptedUsbDriver::SetDataCharacteristics(UsbHandle handle, std::uint8_t, std::uint8_t, std::uint8_t) {
    return handle == kHandle && open_ ? 0 : kBadHandle;
}

UsbStatus ScriptedUsbDriver::Write(UsbHandle handle, const std::uint8_t* data, std::uint32_t count,
                                   std::uint32_t& written) {
    written = 0;
    if (handle != kHandle || !open_) {
        return kBadHandle;
    }
    if (count == 1 && ++singleByteWrites_ > kSingleByteWriteBudget) {
        gone_ = true;
    }
    if (gone_) {
        return kDeviceGone;
    }
    if (failNextWrite_) {
        failNextWrite_ = false;
        writeFaultInjected_ = true;
        return kWriteRefused;
    }
    std::uint32_t taken = count;
    if (shortNextWrite_ && count > 0) {
        shortNextWrite_ = false;
        writeFaultInjected_ = true;
        taken = count - 1;
    }
    written_.insert(written_.end(), data, data + taken);
    written = taken;
    return 0;
}

UsbStatus ScriptedUsbDriver::Read(UsbHandle handle, std::uint8_t* buffer, std::uint32_t count,
                                  std::uint32_t& received, std::uint32_t timeoutMs) {
    received = 0;
    if (handle != kHandle || !open_) {
        return kBadHandle;
    }
    const std::uint32_t startMs = clock_.TickMs();
    for (;;) {
        Pump();
        if (gone_) {
            return kDeviceGone;
        }
        if (Readable()) {
            const auto taken = static_cast<std::uint32_t>(std::min<std::size_t>(count - received, received_.size()));
            Take(buffer + received, taken);
            received += taken;
            if (received == count) {
                return 0;
            }
            continue;  // all that waited is taken: the script may have more
        }
        const std::uint32_t elapsed = clock_.TickMs() - startMs;
        if (elapsed >= timeoutMs) {
            return 0;
        }
        std::uint32_t waitMs = timeoutMs - elapsed;
        if (!received_.empty()) {
            const std::uint32_t paused = clock_.TickMs() - pauseFromMs_;
            waitMs = std::min(waitMs, pauseMs_ - paused);
        }
        clock_.Advance(std::max<std::uint32_t>(waitMs, 1));
    }
}

UsbStatus ScriptedUsbDriver::QueueStatus(UsbHandle handle, std::uint32_t& waiting) {
    waiting = 0;
    if (handle != kHandle || !open_) {
        return kBadHandle;
    }
    Pump();
    if (gone_) {
        return kDeviceGone;
    }
    waiting = Readable() ? static_cast<std::uint32_t>(received_.size()) : 0;
    return 0;
}

UsbStatus ScriptedUsbDriver::PrepareForSync(UsbHandle handle) {
    if (handle != kHandle || !open_) {
        return kBadHandle;
    }
    received_.clear();
    return gone_ ? kDeviceGone : 0;
}

}  // namespace kestrel::fuzz
