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

    // A box that answers the sync request with a stray '*', a stray 0x00 and type 1.
    std::size_t AddChattyBox() {
        BoxBehaviour behaviour;
        behaviour.strayBeforeType = {kSync, 0x00};
        return driver.AddDevice({.behaviour = behaviour});
    }

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

TEST_F(UsbLinkTest, OpenSetsBaudRateThenWordLengthStopBitsAndParity) {
    const auto slot = driver.AddDevice();
    UsbLink link(driver);
    ASSERT_TRUE(link.Open(0, 38400, 0, 2, 8));
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(driver.BaudRates(slot), std::vector<std::uint32_t>{38400});
    EXPECT_EQ(driver.DataCharacteristics(slot), (SimulatedLineSettings{.wordLength = 8, .stopBits = 2, .parity = 0}));
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

TEST_F(UsbLinkTest, DeviceThatRefusesSettingsAndCloseIsReleasedByTheNextClose) {
    SimulatedUsbDevice device;
    device.refuseBaudRate = true;
    device.refuseClose = true;
    const auto slot = driver.AddDevice(device);
    UsbLink link(driver);
    EXPECT_FALSE(OpenBoxLine(link));
    EXPECT_FALSE(link.IsOpen());
    EXPECT_TRUE(driver.IsOpen(slot));

    EXPECT_FALSE(link.Close());
    driver.Device(slot).refuseClose = false;
    EXPECT_TRUE(link.Close());
    EXPECT_FALSE(driver.IsOpen(slot));
}

TEST_F(UsbLinkTest, RefusedCloseKeepsTheLinkOpenAndBlocksTheReopen) {
    const auto slot = driver.AddDevice();
    UsbLink link(driver);
    ASSERT_TRUE(OpenBoxLine(link));
    driver.Device(slot).refuseClose = true;
    EXPECT_FALSE(link.Close());
    EXPECT_TRUE(link.IsOpen());
    EXPECT_FALSE(OpenBoxLine(link));
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(driver.Calls().openIndices.size(), 1U);

    driver.Device(slot).refuseClose = false;
    EXPECT_TRUE(link.Close());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(driver.IsOpen(slot));
}

TEST_F(UsbLinkTest, DestroyingAnOpenLinkClosesTheDevice) {
    const auto slot = driver.AddDevice();
    {
        UsbLink link(driver);
        ASSERT_TRUE(OpenBoxLine(link));
        EXPECT_TRUE(driver.IsOpen(slot));
    }
    EXPECT_FALSE(driver.IsOpen(slot));
}

// --- Writing ---

TEST_F(UsbLinkTest, WriteHandsTheBytesToTheDeviceOnlyWhenOpen) {
    const auto slot = driver.AddDevice();
    UsbLink link(driver);
    const std::array<std::uint8_t, 3> bytes{0x10, 0x20, 0x30};
    EXPECT_FALSE(link.Write(bytes.data(), bytes.size()));
    EXPECT_EQ(driver.Calls().write, 0);

    ASSERT_TRUE(OpenBoxLine(link));
    EXPECT_TRUE(link.Write(bytes.data(), bytes.size()));
    EXPECT_TRUE(link.Write(bytes.data(), 0));
    EXPECT_EQ(driver.Written(slot), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    EXPECT_EQ(driver.Calls().write, 1);
}

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

TEST_F(UsbLinkTest, ReadOfOneByteTakesTheWaitingBytesInOrder) {
    AddChattyBox();
    UsbLink link(driver);
    ASSERT_TRUE(OpenBoxLine(link));
    SendSync(link);
    std::vector<std::uint8_t> got;
    std::uint8_t byte = 0xEE;
    while (link.Read(&byte, 1) == 1) {
        got.push_back(byte);
    }
    EXPECT_EQ(got, (std::vector<std::uint8_t>{kSync, 0x00, 0x01}));
    EXPECT_EQ(clock.TickMs(), 1000U) << "single bytes that are waiting need no wait";
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

TEST_F(UsbLinkTest, ReadCollectsAnAnswerThatArrivesWithinTheBound) {
    BoxBehaviour behaviour;
    behaviour.eraseMs = 15;
    driver.AddDevice({.behaviour = behaviour});
    UsbLink link(driver);
    ASSERT_TRUE(OpenBoxLine(link));
    SendSync(link);
    std::uint8_t type = 0;
    ASSERT_EQ(link.Read(&type, 1), 1);
    ASSERT_EQ(type, 0x01);
    const std::array<std::uint8_t, 9> answerAndLength{0xFE, 0x00, 0xFF, 0x00, 0xFF, 0x01, 0xFE, 0x00, 0xFF};
    ASSERT_TRUE(link.Write(answerAndLength.data(), answerAndLength.size()));

    // 'R' for the length is there at once, 'R' for the erase 15 ms later.
    const std::uint32_t before = clock.TickMs();
    std::array<std::uint8_t, 2> answers{};
    EXPECT_EQ(link.Read(answers.data(), 2), 2);
    EXPECT_EQ(answers, (std::array<std::uint8_t, 2>{'R', 'R'}));
    EXPECT_EQ(clock.TickMs() - before, 15U);
}

TEST_F(UsbLinkTest, WaitReadBlocksUpToItsTimeOut) {
    AddChattyBox();
    UsbLink link(driver);
    ASSERT_TRUE(OpenBoxLine(link));
    std::uint8_t byte = 0x77;
    EXPECT_EQ(link.WaitRead(&byte, 1, 250), 0);
    EXPECT_EQ(byte, 0x77);
    EXPECT_EQ(clock.TickMs(), 1250U);

    SendSync(link);
    std::array<std::uint8_t, 3> bytes{};
    EXPECT_EQ(link.WaitRead(bytes.data(), 3, 250), 3);
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 3>{kSync, 0x00, 0x01}));
    EXPECT_EQ(clock.TickMs(), 1250U) << "bytes already there end the wait";
    EXPECT_FALSE(link.IsBroken());
}

TEST_F(UsbLinkTest, PrepareForSyncDropsWhatWaits) {
    AddChattyBox();
    UsbLink link(driver);
    link.PrepareForSync();
    EXPECT_EQ(driver.Calls().prepareForSync, 0) << "a closed link makes no call";

    ASSERT_TRUE(OpenBoxLine(link));
    SendSync(link);
    link.PrepareForSync();
    std::uint8_t byte = 0;
    EXPECT_EQ(link.Read(&byte, 1), 0);
    EXPECT_EQ(driver.Calls().prepareForSync, 1);
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

TEST_F(UsbLinkTest, UnpluggedDeviceBreaksWaitingReadsAndWrites) {
    const auto slot = driver.AddDevice();
    UsbLink link(driver);
    ASSERT_TRUE(OpenBoxLine(link));
    driver.Device(slot).present = false;
    std::uint8_t byte = 0;
    EXPECT_EQ(link.WaitRead(&byte, 1, 100), 0);
    EXPECT_TRUE(link.IsBroken());

    EXPECT_FALSE(link.Write(&byte, 1));
    EXPECT_TRUE(link.Close());

    EXPECT_FALSE(OpenBoxLine(link)) << "nothing is attached any more";
    EXPECT_EQ(driver.LastOpenProblem(), UsbOpenProblem::NoDevice);
}

}  // namespace
}  // namespace kestrel
