#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "emulator/SimulatedUsbDriver.h"
#include "session/Clock.h"

// The simulated driver stands in for real devices in the link and session
// tests, so it has to number, refuse and time its devices as a real bus would.
namespace kestrel::emulator {
namespace {

class RealTimeClock : public Clock {
public:
    std::uint32_t TickMs() override {
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
};

TEST(SimulatedUsbDriverTest, IndicesCountOnlyThePresentDevices) {
    ManualClock clock;
    SimulatedUsbDriver driver(clock);
    SimulatedUsbDevice unplugged;
    unplugged.present = false;
    driver.AddDevice(unplugged);
    const auto first = driver.AddDevice();
    const auto second = driver.AddDevice();

    std::uint32_t count = 0;
    ASSERT_EQ(driver.CountDevices(count), 0);
    EXPECT_EQ(count, 2U);
    std::vector<UsbDeviceInfo> devices;
    ASSERT_EQ(driver.ListDevices(devices), 0);
    ASSERT_EQ(devices.size(), 2U);
    EXPECT_EQ(devices[1].index, 1);

    UsbHandle handle = kNoUsbHandle;
    ASSERT_EQ(driver.Open(1, handle), 0);
    EXPECT_TRUE(driver.IsOpen(second));
    EXPECT_FALSE(driver.IsOpen(first));
    EXPECT_NE(driver.Open(2, handle), 0);
    EXPECT_EQ(driver.LastOpenProblem(), UsbOpenProblem::NoDevice);
    EXPECT_EQ(driver.Calls().openIndices, (std::vector<int>{1, 2}));
}

TEST(SimulatedUsbDriverTest, RefusedOpensReportTheirProblem) {
    ManualClock clock;
    SimulatedUsbDriver driver(clock);
    SimulatedUsbDevice guarded;
    guarded.refuseOpen = true;
    guarded.openProblem = UsbOpenProblem::AccessDenied;
    driver.AddDevice(guarded);
    driver.AddDevice();

    UsbHandle handle = kNoUsbHandle;
    EXPECT_NE(driver.Open(0, handle), 0);
    EXPECT_EQ(driver.LastOpenProblem(), UsbOpenProblem::AccessDenied);
    ASSERT_EQ(driver.Open(1, handle), 0);
    EXPECT_EQ(driver.LastOpenProblem(), UsbOpenProblem::None);
    UsbHandle again = kNoUsbHandle;
    EXPECT_NE(driver.Open(1, again), 0) << "a device that is open is busy";
    EXPECT_EQ(driver.LastOpenProblem(), UsbOpenProblem::Busy);

    EXPECT_EQ(driver.Close(handle), 0);
    EXPECT_NE(driver.Close(handle), 0) << "a closed handle is no longer valid";
    EXPECT_EQ(driver.Open(1, again), 0);
}

TEST(SimulatedUsbDriverTest, RealTimeReadWakesUpWhenTheBoxIsWrittenTo) {
    RealTimeClock clock;
    SimulatedUsbDriver driver(clock);
    const auto slot = driver.AddDevice();
    UsbHandle handle = kNoUsbHandle;
    ASSERT_EQ(driver.Open(0, handle), 0);

    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::uint8_t sync = 0x2A;
        std::uint32_t written = 0;
        EXPECT_EQ(driver.Write(handle, &sync, 1, written), 0);
    });
    const auto start = std::chrono::steady_clock::now();
    std::uint8_t answer = 0;
    std::uint32_t received = 0;
    EXPECT_EQ(driver.Read(handle, &answer, 1, received, 20000), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    writer.join();

    EXPECT_EQ(received, 1U);
    EXPECT_EQ(answer, 0x01);
    // Without the wake-up the read would sleep its whole 20 s.
    EXPECT_LT(waited, std::chrono::seconds(10));
    EXPECT_EQ(driver.Written(slot), std::vector<std::uint8_t>{0x2A});
}

TEST(SimulatedUsbDriverTest, ManualClockReadWaitsForTheBoxDeadline) {
    ManualClock clock(500);
    SimulatedUsbDriver driver(clock);
    BoxBehaviour behaviour;
    behaviour.eraseMs = 700;
    SimulatedUsbDevice device;
    device.behaviour = behaviour;
    driver.AddDevice(device);
    UsbHandle handle = kNoUsbHandle;
    ASSERT_EQ(driver.Open(0, handle), 0);
    const std::vector<std::uint8_t> toErase{0x2A, 0xFE, 0x00, 0xFF, 0x00, 0xFF, 0x01, 0xFE, 0x00, 0xFF};
    std::uint32_t written = 0;
    ASSERT_EQ(driver.Write(handle, toErase.data(), static_cast<std::uint32_t>(toErase.size()), written), 0);

    std::vector<std::uint8_t> answers(3);
    std::uint32_t received = 0;
    ASSERT_EQ(driver.Read(handle, answers.data(), 3, received, 5000), 0);
    EXPECT_EQ(received, 3U);
    EXPECT_EQ(answers, (std::vector<std::uint8_t>{0x01, 'R', 'R'}));
    EXPECT_EQ(clock.TickMs(), 1200U) << "time moves to the end of the erase, not to the time-out";
}

}  // namespace
}  // namespace kestrel::emulator
