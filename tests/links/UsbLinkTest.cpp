#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "links/UsbLink.h"
#include "support/SimulatedBox.h"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSync = 0x2A;

bool OpenBoxLine(UsbLink& link, std::int32_t index = 0) { return link.Open(index, 115200, 0, 2, 8); }

// Each test is a new process as far as the device listing goes.
class UsbLinkTest : public ::testing::Test {
protected:
    void SetUp() override { UsbLink::ForgetDeviceListing(); }
    void TearDown() override { UsbLink::ForgetDeviceListing(); }

    ManualClock clock{1000};
    emulator::SimulatedUsbDriver driver{clock};
};

// A failed listing blocks the open and is retried by the next; one that succeeded,
// even with no device attached, is not done again in this process.
TEST_F(UsbLinkTest, DevicesAreListedUntilOneListingSucceedsThenNeverAgain) {
    driver.FailListing(true);
    UsbLink link(driver);
    EXPECT_EQ(link.CountDevices(), -1);
    EXPECT_FALSE(OpenBoxLine(link));
    EXPECT_EQ(link.OpenProblem(), UsbOpenProblem::NoDevice);
    EXPECT_TRUE(driver.Calls().openIndices.empty());

    driver.FailListing(false);
    EXPECT_EQ(link.CountDevices(), 0);
    EXPECT_FALSE(OpenBoxLine(link));
    EXPECT_EQ(link.OpenProblem(), UsbOpenProblem::NoDevice);

    driver.AddDevice();
    for (int download = 0; download < 3; ++download) {
        UsbLink next(driver);
        EXPECT_TRUE(OpenBoxLine(next));
        EXPECT_TRUE(next.Close());
    }
    EXPECT_EQ(driver.Calls().listDevices, 1);
    EXPECT_EQ(driver.Calls().openIndices, (std::vector<int>{0, 0, 0, 0}));
}

// Reopening at another rate, a device that refuses it released again, and the
// hang-up, are the session scenarios'.
TEST_F(UsbLinkTest, EveryOpenThatIsReplacedReleasesItsDevice) {
    driver.AddDevice();
    driver.AddDevice();
    UsbLink link(driver);
    EXPECT_TRUE(link.Close());
    EXPECT_EQ(driver.Calls().close, 0) << "a link never opened has nothing to close";
    ASSERT_TRUE(OpenBoxLine(link));
    ASSERT_TRUE(OpenBoxLine(link, 1));
    EXPECT_FALSE(driver.IsOpen(0));
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
