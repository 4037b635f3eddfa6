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

}  // namespace
}  // namespace kestrel::emulator
