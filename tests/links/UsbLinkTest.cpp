#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "emulator/SimulatedUsbDriver.h"
#include "links/Clock.h"
#include "links/UsbLink.h"

namespace kestrel {
namespace {

using emulator::SimulatedUsbDriver;

constexpr std::uint8_t kSync = 0x2A;

bool OpenBoxLine(UsbLink& link, std::int32_t index = 0) { return link.Open(index, 115200, 0, 2, 8); }

// Each test is a new process as far as the device listing goes.
class UsbLinkTest : public ::testing::Test {
protected:
    void SetUp() override { UsbLink::ForgetDeviceListing(); }
    void TearDown() override { UsbLink::ForgetDeviceListing(); }

    ManualClock clock{1000};
    SimulatedUsbDriver driver{clock};
};

// A failed listing blocks the open and is retried by the next; one that succeeded,
// even with no device attached, is not done again in this process.
TEST_F(UsbLinkTest, DevicesAreListedUntilOneListingSucceedsThenNeverAgain) {
    driver.FailListing(true);
    UsbLink link(driver);
    EXPECT_EQ(link.CountDevices(), -1);
    EXPECT_FALSE(OpenBoxLine(link));
    EXPECT_FALSE(UsbLink::DevicesListed);
    EXPECT_TRUE(driver.Calls().openIndices.empty());

    driver.FailListing(false);
    EXPECT_EQ(link.CountDevices(), 0);
    EXPECT_FALSE(OpenBoxLine(link));
    EXPECT_TRUE(UsbLink::DevicesListed);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(driver.Calls().openIndices, std::vector<int>{0});
    EXPECT_EQ(driver.LastOpenProblem(), UsbOpenProblem::NoDevice);
    const auto listed = driver.Calls();
    EXPECT_EQ(listed.listDevices, 1);

    driver.AddDevice();
    for (int download = 0; download < 3; ++download) {
        UsbLink next(driver);
        EXPECT_FALSE(OpenBoxLine(next, 5));
        EXPECT_TRUE(OpenBoxLine(next));
        EXPECT_TRUE(next.Close());
    }
    EXPECT_EQ(driver.Calls().countDevices, listed.countDevices);
    EXPECT_EQ(driver.Calls().listDevices, 1);
    EXPECT_EQ(driver.Calls().openIndices, (std::vector<int>{0, 5, 0, 5, 0, 5, 0}));
}

TEST_F(UsbLinkTest, EveryOpenThatFailsOrIsReplacedReleasesItsDevice) {
    driver.Device(driver.AddDevice()).refuseBaudRate = true;
    driver.Device(driver.AddDevice()).refuseDataCharacteristics = true;
    UsbLink link(driver);
    EXPECT_TRUE(link.Close());
    EXPECT_EQ(driver.Calls().close, 0) << "a link never opened has nothing to close";
    for (const int index : {0, 1}) {
        EXPECT_FALSE(OpenBoxLine(link, index));
        EXPECT_FALSE(link.IsOpen());
        EXPECT_FALSE(driver.IsOpen(index)) << "a device that refused a setting is closed again";
    }
    EXPECT_EQ(driver.Calls().close, 2);
    driver.Device(0).refuseBaudRate = false;
    ASSERT_TRUE(OpenBoxLine(link));
    // The simulated device refuses a second open while open: this succeeds only
    // when the link let go of it first.
    ASSERT_TRUE(link.Open(0, 38400, 0, 2, 8));
    EXPECT_EQ(driver.Calls().close, 3);
    EXPECT_EQ(driver.BaudRates(0), (std::vector<std::uint32_t>{115200, 38400}));
    EXPECT_TRUE(link.Close());
    EXPECT_FALSE(driver.IsOpen(0));
}

TEST_F(UsbLinkTest, ReadReturnsAtOnceWhenNothingWaitsAndOtherwiseWithinItsBound) {
    // Started just before the millisecond count wraps, so the bound must be taken unsigned.
    for (const std::uint32_t startMs : {1000U, 0xFFFFFFF0U}) {
        for (const std::uint32_t count : {10U, 1000U}) {
            SCOPED_TRACE(::testing::Message() << "start " << startMs << ", count " << count);
            ManualClock localClock(startMs);
            SimulatedUsbDriver local(localClock);
            local.AddDevice({.behaviour = {.strayBeforeType = {kSync, 0x00}}});
            UsbLink link(local);
            ASSERT_TRUE(OpenBoxLine(link));
            std::vector<std::uint8_t> buffer(count, 0xEE);
            EXPECT_EQ(link.Read(buffer.data(), count), 0);
            EXPECT_EQ(buffer, std::vector<std::uint8_t>(count, 0xEE));
            EXPECT_EQ(local.Calls().read, 0);
            EXPECT_EQ(localClock.TickMs(), startMs) << "an empty queue is not waited on";

            ASSERT_TRUE(link.Write(&kSync, 1));
            EXPECT_EQ(link.Read(buffer.data(), count), 3);
            EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 4),
                      (std::vector<std::uint8_t>{kSync, 0x00, 0x01, 0xEE}));
            const std::uint32_t waited = localClock.TickMs() - startMs;
            EXPECT_GT(waited, 0U) << "the rest may still be on its way";
            EXPECT_LE(waited, std::min(5 * count + 10, UsbLink::kReadIdleMs));
        }
    }
}

TEST_F(UsbLinkTest, HungUpDeviceBreaksTheLinkUntilItIsOpenedAgain) {
    const auto slot = driver.AddDevice({.behaviour = {.hangUpAt = emulator::BoxStage::Sync}});
    UsbLink link(driver);
    ASSERT_TRUE(OpenBoxLine(link));
    ASSERT_TRUE(link.Write(&kSync, 1));

    std::uint8_t byte = 0;
    EXPECT_EQ(link.Read(&byte, 1), 0);
    EXPECT_TRUE(link.IsBroken());
    EXPECT_FALSE(link.Write(&byte, 1));
    EXPECT_EQ(link.WaitRead(&byte, 1, 100), 0);
    EXPECT_EQ(driver.Written(slot).size(), 1U) << "a broken link writes nothing more";

    ASSERT_TRUE(OpenBoxLine(link));
    EXPECT_FALSE(link.IsBroken());
    EXPECT_TRUE(link.Write(&byte, 1));
}

// The simulated driver stands in for real devices in real time too (station and
// gang tests): a read waiting there must wake up when another thread writes.
TEST(SimulatedUsbDriverTest, RealTimeReadWakesUpWhenTheBoxIsWrittenTo) {
    SimulatedUsbDriver driver(SteadyClock());
    const auto slot = driver.AddDevice();
    UsbHandle handle = kNoUsbHandle;
    ASSERT_EQ(driver.Open(0, handle), 0);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::uint32_t written = 0;
        EXPECT_EQ(driver.Write(handle, &kSync, 1, written), 0);
    });
    const auto start = std::chrono::steady_clock::now();
    std::uint8_t answer = 0;
    std::uint32_t received = 0;
    EXPECT_EQ(driver.Read(handle, &answer, 1, received, 20000), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    writer.join();
    EXPECT_EQ(received, 1U);
    EXPECT_EQ(answer, 0x01);
    EXPECT_LT(waited, std::chrono::seconds(10)) << "without the wake-up the read sleeps its whole 20 s";
    EXPECT_EQ(driver.Written(slot), std::vector<std::uint8_t>{kSync});
}

}  // namespace
}  // namespace kestrel
