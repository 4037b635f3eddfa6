#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "emulator/BoxModel.h"
#include "links/UsbDriver.h"

namespace kestrel::emulator {

// How one simulated device behaves towards the driver calls. May be changed
// between calls, e.g. to unplug a device (present = false) while it is open.
struct SimulatedUsbDevice {
    BoxBehaviour behaviour;
    bool present = true;
    bool refuseOpen = false;
    UsbOpenProblem openProblem = UsbOpenProblem::Other;  // reported when the open is refused
    bool refuseBaudRate = false;
    bool refuseDataCharacteristics = false;
    bool refuseClose = false;
    std::string description = "Kestrel box";
    std::string serialNumber = "KST00001";
};

// Every call the driver received, for tests to check.
struct SimulatedUsbCalls {
    int countDevices = 0;
    int listDevices = 0;
    std::vector<int> openIndices;  // the index of every open attempt, in order
    int close = 0;
    int setBaudRate = 0;
    int setDataCharacteristics = 0;
    int write = 0;
    int read = 0;
    int queueStatus = 0;
    int prepareForSync = 0;
};

struct SimulatedLineSettings {
    std::uint8_t wordLength = 0;
    std::uint8_t stopBits = 0;
    std::uint8_t parity = 0;
    bool operator==(const SimulatedLineSettings&) const = default;
};

// A UsbDriver whose devices are BoxModels in this process. A read that has to
// wait lets time pass on the clock (to the box's next deadline or the time-out):
// a ManualClock moves on at once, the steady clock really waits, and a write
// from another thread ends the wait early.
class SimulatedUsbDriver final : public UsbDriver {
public:
    // Statuses of the simulated calls.
    static constexpr UsbStatus kListingFailed = 1;
    static constexpr UsbStatus kNoDevice = 2;
    static constexpr UsbStatus kRefused = 3;
    static constexpr UsbStatus kBadHandle = 4;
    static constexpr UsbStatus kDeviceGone = 5;
    static constexpr std::uint16_t kVendorId = 0x0403;
    static constexpr std::uint16_t kProductId = 0x6001;

    explicit SimulatedUsbDriver(Clock& clock);

    // Plugs in one more device behind the others and returns its slot. A
    // device's index is its position among the present devices, as on a real bus.
    std::size_t AddDevice(SimulatedUsbDevice device = {});
    std::size_t DeviceCount() const;
    // The device's set-up, to change between calls; the box model behind it.
    SimulatedUsbDevice& Device(std::size_t slot);
    BoxModel& Model(std::size_t slot);

    // Plugs a device in or out; unlike a change through Device(), safe while
    // another thread uses the driver.
    void SetPresent(std::size_t slot, bool present);
    bool IsOpen(std::size_t slot) const;
    // Baud rates the device accepted, in order, over all its opens.
    std::vector<std::uint32_t> BaudRates(std::size_t slot) const;
    // The data characteristics it accepted last.
    std::optional<SimulatedLineSettings> DataCharacteristics(std::size_t slot) const;
    // Every byte the tool wrote to the device, and the clock's time at each write it took.
    std::vector<std::uint8_t> Written(std::size_t slot) const;
    std::vector<std::uint32_t> WriteTimes(std::size_t slot) const;

    // While set, counting and listing the devices fail.
    void FailListing(bool fail);
    SimulatedUsbCalls Calls() const;

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

    Clock& TimeBase() override { return clock_; }

private:
    struct Slot {
        explicit Slot(SimulatedUsbDevice setUp) : setup(std::move(setUp)), model(setup.behaviour) {}
        SimulatedUsbDevice setup;
        BoxModel model;
        std::deque<std::uint8_t> fromBox;  // answered by the box, not yet read
        std::vector<std::uint8_t> written;
        std::vector<std::uint32_t> writeTimes;
        std::vector<std::uint32_t> baudRates;
        std::optional<SimulatedLineSettings> characteristics;
        bool open = false;
        bool gone = false;  // hung up or unplugged since the open
    };

    Slot* Find(UsbHandle handle);
    const Slot& At(std::size_t slot) const;
    Slot& At(std::size_t slot);
    // Lets the box's time pass and collects its answers; false when the device is gone.
    bool Pump(Slot& slot, std::uint32_t nowMs);
    // Lets `ms` pass on the clock, ended early by a write.
    void Wait(std::unique_lock<std::mutex>& lock, std::uint32_t ms);

    Clock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable written_;
    std::uint64_t writeCount_ = 0;
    std::deque<Slot> slots_;
    std::map<UsbHandle, std::size_t> openSlots_;
    UsbHandle nextHandle_ = 1;
    bool failListing_ = false;
    SimulatedUsbCalls calls_;
};

}  // namespace kestrel::emulator
