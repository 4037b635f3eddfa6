#include "emulator/SimulatedUsbDriver.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

namespace kestrel::emulator {

SimulatedUsbDriver::SimulatedUsbDriver(Clock& clock) : clock_(clock) {}

std::size_t SimulatedUsbDriver::AddDevice(SimulatedUsbDevice device) {
    std::lock_guard lock(mutex_);
    slots_.emplace_back(std::move(device));
    return slots_.size() - 1;
}

std::size_t SimulatedUsbDriver::DeviceCount() const {
    std::lock_guard lock(mutex_);
    return slots_.size();
}

const SimulatedUsbDriver::Slot& SimulatedUsbDriver::At(std::size_t slot) const {
    if (slot >= slots_.size()) {
        throw std::out_of_range("no simulated USB device in that slot");
    }
    return slots_[slot];
}

SimulatedUsbDriver::Slot& SimulatedUsbDriver::At(std::size_t slot) {
    return const_cast<Slot&>(std::as_const(*this).At(slot));
}

SimulatedUsbDevice& SimulatedUsbDriver::Device(std::size_t slot) {
    std::lock_guard lock(mutex_);
    return At(slot).setup;
}

BoxModel& SimulatedUsbDriver::Model(std::size_t slot) {
    std::lock_guard lock(mutex_);
    return At(slot).model;
}

void SimulatedUsbDriver::SetPresent(std::size_t slot, bool present) {
    std::lock_guard lock(mutex_);
    At(slot).setup.present = present;
}

bool SimulatedUsbDriver::IsOpen(std::size_t slot) const {
    std::lock_guard lock(mutex_);
    return At(slot).open;
}

std::vector<std::uint32_t> SimulatedUsbDriver::BaudRates(std::size_t slot) const {
    std::lock_guard lock(mutex_);
    return At(slot).baudRates;
}

std::optional<SimulatedLineSettings> SimulatedUsbDriver::DataCharacteristics(std::size_t slot) const {
    std::lock_guard lock(mutex_);
    return At(slot).characteristics;
}

std::vector<std::uint8_t> SimulatedUsbDriver::Written(std::size_t slot) const {
    std::lock_guard lock(mutex_);
    return At(slot).written;
}

std::vector<std::uint32_t> SimulatedUsbDriver::WriteTimes(std::size_t slot) const {
    std::lock_guard lock(mutex_);
    return At(slot).writeTimes;
}

void SimulatedUsbDriver::FailListing(bool fail) {
    std::lock_guard lock(mutex_);
    failListing_ = fail;
}

SimulatedUsbCalls SimulatedUsbDriver::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

SimulatedUsbDriver::Slot* SimulatedUsbDriver::Find(UsbHandle handle) {
    const auto found = openSlots_.find(handle);
    return found == openSlots_.end() ? nullptr : &slots_[found->second];
}

bool SimulatedUsbDriver::Pump(Slot& slot, std::uint32_t nowMs) {
    if (!slot.setup.present) {
        slot.gone = true;
    }
    if (slot.gone) {
        return false;
    }
    slot.model.Advance(nowMs);
    if (slot.model.WantsHangUp()) {
        slot.gone = true;
        return false;
    }
    std::array<std::uint8_t, 256> chunk{};
    while (const std::size_t taken = slot.model.TakeOutput(chunk.data(), chunk.size())) {
        slot.fromBox.insert(slot.fromBox.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(taken));
    }
    return true;
}

void SimulatedUsbDriver::Wait(std::unique_lock<std::mutex>& lock, std::uint32_t ms) {
    const std::uint64_t seenWrites = writeCount_;
    clock_.WaitFor(lock, written_, ms, [&] { return writeCount_ != seenWrites; });
}

UsbStatus SimulatedUsbDriver::CountDevices(std::uint32_t& count) {
    std::lock_guard lock(mutex_);
    ++calls_.countDevices;
    count = 0;
    if (failListing_) {
        return kListingFailed;
    }
    count = static_cast<std::uint32_t>(
        std::count_if(slots_.begin(), slots_.end(), [](const Slot& slot) { return slot.setup.present; }));
    return 0;
}

UsbStatus SimulatedUsbDriver::ListDevices(std::vector<UsbDeviceInfo>& devices) {
    std::lock_guard lock(mutex_);
    ++calls_.listDevices;
    devices.clear();
    if (failListing_) {
        return kListingFailed;
    }
    for (const Slot& slot : slots_) {
        if (slot.setup.present) {
            devices.push_back({.index = static_cast<int>(devices.size()),
                               .description = slot.setup.description,
                               .serialNumber = slot.setup.serialNumber,
                               .vendorId = kVendorId,
                               .productId = kProductId});
        }
    }
    return 0;
}

UsbStatus SimulatedUsbDriver::Open(int index, UsbHandle& handle, UsbOpenProblem& problem) {
    std::lock_guard lock(mutex_);
    calls_.openIndices.push_back(index);
    handle = kNoUsbHandle;
    problem = UsbOpenProblem::None;
    // The index counts present devices only, so unplugging one renumbers those behind it.
    Slot* target = nullptr;
    std::size_t targetSlot = 0;
    int position = 0;
    for (std::size_t i = 0; i < slots_.size() && target == nullptr; ++i) {
        if (slots_[i].setup.present && position++ == index) {
            target = &slots_[i];
            targetSlot = i;
        }
    }
    if (target == nullptr) {
        problem = UsbOpenProblem::NoDevice;
        return kNoDevice;
    }
    if (target->setup.refuseOpen) {
        problem = target->setup.openProblem;
        return kRefused;
    }
    if (target->open) {
        problem = UsbOpenProblem::Busy;
        return kRefused;
    }
    // The line is new to the box: whatever was half done or queued is gone.
    target->model.Restart();
    target->fromBox.clear();
    target->open = true;
    target->gone = false;
    handle = nextHandle_++;
    openSlots_.emplace(handle, targetSlot);
    return 0;
}

UsbStatus SimulatedUsbDriver::Close(UsbHandle handle) {
    std::lock_guard lock(mutex_);
    ++calls_.close;
    Slot* slot = Find(handle);
    if (slot == nullptr) {
        return kBadHandle;
    }
    if (slot->setup.refuseClose) {
        return kRefused;
    }
    slot->open = false;
    openSlots_.erase(handle);
    return 0;
}

UsbStatus SimulatedUsbDriver::SetBaudRate(UsbHandle handle, std::uint32_t baudRate) {
    std::lock_guard lock(mutex_);
    ++calls_.setBaudRate;
    Slot* slot = Find(handle);
    if (slot == nullptr) {
        return kBadHandle;
    }
    if (slot->setup.refuseBaudRate) {
        return kRefused;
    }
    slot->baudRates.push_back(baudRate);
    return 0;
}

UsbStatus SimulatedUsbDriver::SetDataCharacteristics(UsbHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                                     std::uint8_t parity) {
    std::lock_guard lock(mutex_);
    ++calls_.setDataCharacteristics;
    Slot* slot = Find(handle);
    if (slot == nullptr) {
        return kBadHandle;
    }
    if (slot->setup.refuseDataCharacteristics) {
        return kRefused;
    }
    slot->characteristics = SimulatedLineSettings{wordLength, stopBits, parity};
    return 0;
}

UsbStatus SimulatedUsbDriver::Write(UsbHandle handle, const std::uint8_t* data, std::uint32_t count,
                                    std::uint32_t& written) {
    std::lock_guard lock(mutex_);
    ++calls_.write;
    written = 0;
    Slot* slot = Find(handle);
    if (slot == nullptr) {
        return kBadHandle;
    }
    const std::uint32_t nowMs = clock_.TickMs();
    if (!Pump(*slot, nowMs)) {
        return kDeviceGone;
    }
    slot->model.Receive(data, count, nowMs);
    slot->written.insert(slot->written.end(), data, data + count);
    slot->writeTimes.push_back(nowMs);
    written = count;
    ++writeCount_;
    written_.notify_all();
    return 0;
}

UsbStatus SimulatedUsbDriver::Read(UsbHandle handle, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received,
                                   std::uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    ++calls_.read;
    received = 0;
    Slot* slot = Find(handle);
    if (slot == nullptr) {
        return kBadHandle;
    }
    const std::uint32_t startMs = clock_.TickMs();
    for (;;) {
        const std::uint32_t nowMs = clock_.TickMs();
        if (!Pump(*slot, nowMs)) {
            return kDeviceGone;
        }
        const auto taken = static_cast<std::uint32_t>(std::min<std::size_t>(count - received, slot->fromBox.size()));
        std::copy_n(slot->fromBox.begin(), taken, buffer + received);
        slot->fromBox.erase(slot->fromBox.begin(), slot->fromBox.begin() + taken);
        received += taken;
        const std::uint32_t elapsed = nowMs - startMs;
        if (received == count || elapsed >= timeoutMs) {
            return 0;
        }
        std::uint32_t waitMs = timeoutMs - elapsed;
        if (const auto deadline = slot->model.NextDeadline()) {
            // At least 1 ms, so a deadline the model has not acted on cannot stall the clock.
            const auto untilDeadline = static_cast<std::int32_t>(*deadline - nowMs);
            waitMs = std::min(waitMs, static_cast<std::uint32_t>(std::max<std::int32_t>(untilDeadline, 1)));
        }
        Wait(lock, waitMs);
        // Another thread may have closed the device meanwhile.
        slot = Find(handle);
        if (slot == nullptr) {
            return kBadHandle;
        }
    }
}

UsbStatus SimulatedUsbDriver::QueueStatus(UsbHandle handle, std::uint32_t& waiting) {
    std::lock_guard lock(mutex_);
    ++calls_.queueStatus;
    waiting = 0;
    Slot* slot = Find(handle);
    if (slot == nullptr) {
        return kBadHandle;
    }
    if (!Pump(*slot, clock_.TickMs())) {
        return kDeviceGone;
    }
    waiting = static_cast<std::uint32_t>(slot->fromBox.size());
    return 0;
}

UsbStatus SimulatedUsbDriver::PrepareForSync(UsbHandle handle) {
    std::lock_guard lock(mutex_);
    ++calls_.prepareForSync;
    Slot* slot = Find(handle);
    if (slot == nullptr) {
        return kBadHandle;
    }
    if (!Pump(*slot, clock_.TickMs())) {
        return kDeviceGone;
    }
    slot->fromBox.clear();
    return 0;
}

}  // namespace kestrel::emulator
