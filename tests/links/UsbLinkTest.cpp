#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "emulator/SimulatedUsbDriver.h"
#include "links/Clock.h"
#include "links/UsbLink.h"
#include "support/SimulatedBox.h"

namespace kestrel {
namespace {

using emulator::SimulatedUsbDriver;
using Bytes = std::vector<std::uint8_t>;

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
    EXPECT_EQ(driver.LastOpenProblem(), UsbOpenProblem::NoDevice);
    const auto listed = driver.Calls();

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

TEST_F(UsbLinkTest, EveryOpenThatFailsOrIsReplacedReleasesItsDeviceAndAHangUpLastsUntilTheNextOpen) {
    driver.AddDevice({.behaviour = {}, .refuseBaudRate = true});
    driver.AddDevice({.behaviour = {.hangUpAt = emulator::BoxStage::Sync}, .refuseDataCharacteristics = true});
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

    driver.Device(1).refuseDataCharacteristics = false;
    ASSERT_TRUE(OpenBoxLine(link, 1));
    EXPECT_FALSE(driver.IsOpen(0));
    // Device 1 hangs up at the sync: the link is broken until the next open.
    ASSERT_TRUE(link.Write(&kSync, 1));
    std::uint8_t byte = 0;
    EXPECT_EQ(link.Read(&byte, 1), 0);
    EXPECT_TRUE(link.IsBroken());
    ASSERT_TRUE(OpenBoxLine(link, 1));
    EXPECT_FALSE(link.IsBroken());
    EXPECT_TRUE(link.Close());
    EXPECT_FALSE(driver.IsOpen(1));
}

// Nothing waiting: back at once. Bytes waiting: the rest may still be on its
// way, so the read waits 5 ms a byte and 10 ms more, or 500 ms after the last
// byte, whichever ends first; started just before the millisecond count
// wraps, too, so the bound must be taken unsigned.
TEST_F(UsbLinkTest, ReadReturnsAtOnceWhenNothingWaitsAndOtherwiseAtItsBound) {
    for (const std::uint32_t startMs : {1000U, 0xFFFFFFF0U}) {
        for (const std::uint32_t count : {10U, 1000U}) {
            SCOPED_TRACE(::testing::Message() << "start " << startMs << ", count " << count);
            testing::SimulatedBox box({.strayBeforeType = {kSync, 0x00}}, startMs);
            UsbLink link(box.driver);
            ASSERT_TRUE(OpenBoxLine(link));
            Bytes buffer(count, 0xEE);
            EXPECT_EQ(link.Read(buffer.data(), count), 0);
            EXPECT_EQ(box.driver.Calls().read, 0);
            EXPECT_EQ(box.clock.TickMs(), startMs);

            ASSERT_TRUE(link.Write(&kSync, 1));
            EXPECT_EQ(link.Read(buffer.data(), count), 3);
            EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), (Bytes{kSync, 0x00, 0x01, 0xEE}));
            EXPECT_EQ(box.clock.TickMs() - startMs, std::min(5 * count + 10, 500U));
        }
    }
}

}  // namespace
}  // namespace kestrel
