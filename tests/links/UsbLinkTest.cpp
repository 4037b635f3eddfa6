#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "emulator/SimulatedUsbDriver.h"
#include "links/UsbLink.h"
#include "session/Clock.h"

namespace kestrel {
namespace {

using emulator::BoxBehaviour;
using emulator::SimulatedLineSettings;
using emulator::SimulatedUsbDevice;
using emulator::SimulatedUsbDriver;

constexpr std::uint8_t kSync = 0x2A;

// Each test is a new process as far as the device listing goes.
class UsbLinkTest : public ::testing::Test {
protected:
    void SetUp() override { UsbLink::ForgetDeviceListing(); }
    void TearDown() override { UsbLink::ForgetDeviceListing(); }

    bool OpenBoxLine(UsbLink& link, std::int32_t index = 0) { return link.Open(index, 115200, 0, 2, 8); }

    void SendSync(UsbLink& link) {
        const std::uint8_t request = kSync;
        ASSERT_TRUE(link.Write(&request, 1));
    }

    ManualClock clock{1000};
    SimulatedUsbDriver driver{clock};
};

// --- Listing the devices ---

TEST_F(UsbLinkTest, NoDeviceAttachedListsSuccessfullyButOpenFails) {
    UsbLink link(driver);
    EXPECT_EQ(link.CountDevices(), 0);
    EXPECT_FALSE(OpenBoxLine(link));
    EXPECT_TRUE(UsbLink::DevicesListed);
    EXPECT_FALSE(link.IsOpen());
    const auto calls = driver.Calls();
    EXPECT_EQ(calls.listDevices, 1);
    EXPECT_EQ(calls.openIndices, std::vector<int>{0});
    EXPECT_EQ(driver.LastOpenProblem(), UsbOpenProblem::NoDevice);
}

TEST_F(UsbLinkTest, FailedListingPreventsTheOpenAndIsRetriedByTheNextOpen) {
    driver.AddDevice();
    driver.FailListing(true);
    UsbLink link(driver);
    EXPECT_EQ(link.CountDevices(), -1);
    EXPECT_FALSE(OpenBoxLine(link));
    EXPECT_FALSE(UsbLink::DevicesListed);
    EXPECT_TRUE(driver.Calls().openIndices.empty());

    driver.FailListing(false);
    EXPECT_TRUE(OpenBoxLine(link));
    EXPECT_TRUE(UsbLink::DevicesListed);
    EXPECT_EQ(driver.Calls().listDevices, 1);
    EXPECT_EQ(driver.Calls().openIndices, std::vector<int>{0});
}

TEST_F(UsbLinkTest, DevicesAreListedOncePerProcessAcrossDownloads) {
    driver.AddDevice();
    for (int download = 0; download < 3; ++download) {
        UsbLink link(driver);
        EXPECT_FALSE(link.Open(5, 115200, 0, 2, 8));
        EXPECT_TRUE(OpenBoxLine(link));
        EXPECT_TRUE(link.Close());
    }
    const auto calls = driver.Calls();
    EXPECT_EQ(calls.countDevices, 1);
    EXPECT_EQ(calls.listDevices, 1);
    EXPECT_EQ(calls.openIndices, (std::vector<int>{5, 0, 5, 0, 5, 0}));
}

// --- Opening and closing ---

TEST_F(UsbLinkTest, CloseOfANeverOpenedLinkSucceedsWithoutACall) {
    driver.AddDevice();
    UsbLink link(driver);
    EXPECT_TRUE(link.Close());
    EXPECT_EQ(driver.Calls().close, 0);
}

TEST_F(UsbLinkTest, OpenOfAnOpenLinkClosesItFirst) {
    const auto slot = driver.AddDevice();
    UsbLink link(driver);
    ASSERT_TRUE(OpenBoxLine(link));
    // The simulated device refuses a second open while it is open, so this
    // succeeds only when the link let go of it first.
    ASSERT_TRUE(link.Open(0, 38400, 0, 2, 8));
    EXPECT_EQ(driver.Calls().close, 1);
    EXPECT_EQ(driver.BaudRates(slot), (std::vector<std::uint32_t>{115200, 38400}));
    EXPECT_TRUE(link.Close());
    EXPECT_FALSE(driver.IsOpen(slot));
}

TEST_F(UsbLinkTest, DeviceThatRefusesALineSettingIsClosedAgain) {
    for (const bool refuseBaudRate : {true, false}) {
        SCOPED_TRACE(refuseBaudRate ? "baud rate refused" : "data characteristics refused");
        SimulatedUsbDriver localDriver(clock);
        SimulatedUsbDevice device;
        device.refuseBaudRate = refuseBaudRate;
        device.refuseDataCharacteristics = !refuseBaudRate;
        const auto slot = localDriver.AddDevice(device);
        UsbLink link(localDriver);
        EXPECT_FALSE(OpenBoxLine(link));
        EXPECT_FALSE(link.IsOpen());
        EXPECT_FALSE(localDriver.IsOpen(slot));
        EXPECT_EQ(localDriver.Calls().close, 1);

        // The device is free for the next attempt once it takes the settings.
        localDriver.Device(slot).refuseBaudRate = false;
        localDriver.Device(slot).refuseDataCharacteristics = false;
        EXPECT_TRUE(OpenBoxLine(link));
    }
}

// --- Writing ---

// --- Reading ---

TEST_F(UsbLinkTest, ReadWithNothingWaitingReturnsAtOnceAndLeavesTheBuffer) {
    driver.AddDevice();
    UsbLink link(driver);
    ASSERT_TRUE(OpenBoxLine(link));
    std::array<std::uint8_t, 4> buffer{0x77, 0x77, 0x77, 0x77};
    EXPECT_EQ(link.Read(buffer.data(), 1), 0);
    EXPECT_EQ(link.Read(buffer.data(), 4), 0);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{0x77, 0x77, 0x77, 0x77}));
    EXPECT_EQ(driver.Calls().read, 0);
    EXPECT_EQ(clock.TickMs(), 1000U);
}

TEST_F(UsbLinkTest, ReadOfMoreThanArrivesEndsWithinItsBound) {
    // Started just before the millisecond count wraps, so the bound must be taken unsigned.
    for (const std::uint32_t startMs : {1000U, 0xFFFFFFF0U}) {
        for (const std::uint32_t count : {10U, 1000U}) {
            SCOPED_TRACE(testing::Message() << "start " << startMs << ", count " << count);
            ManualClock localClock(startMs);
            SimulatedUsbDriver localDriver(localClock);
            BoxBehaviour behaviour;
            behaviour.strayBeforeType = {kSync, 0x00};
            localDriver.AddDevice({.behaviour = behaviour});
            UsbLink link(localDriver);
            ASSERT_TRUE(OpenBoxLine(link));
            SendSync(link);

            std::vector<std::uint8_t> buffer(count, 0xEE);
            EXPECT_EQ(link.Read(buffer.data(), count), 3);
            EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 4),
                      (std::vector<std::uint8_t>{kSync, 0x00, 0x01, 0xEE}));
            const std::uint32_t waited = localClock.TickMs() - startMs;
            EXPECT_GT(waited, 0U) << "the rest may still be on its way";
            EXPECT_LE(waited, std::min(5 * count + 10, UsbLink::kReadIdleMs));
        }
    }
}

// --- A device that goes away ---

TEST_F(UsbLinkTest, HungUpDeviceBreaksTheLinkUntilItIsOpenedAgain) {
    BoxBehaviour behaviour;
    behaviour.hangUpAt = emulator::BoxStage::Sync;
    const auto slot = driver.AddDevice({.behaviour = behaviour});
    UsbLink link(driver);
    ASSERT_TRUE(OpenBoxLine(link));
    SendSync(link);

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

}  // namespace
}  // namespace kestrel
