#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "links/FtdiUsbDriver.h"
#include "links/UsbLink.h"

// Runs against the real libftdi1 and libusb. The build machines have no FTDI
// device and often no USB bus at all, so these check that every call then
// fails cleanly; on a machine with a device attached the open tests are skipped.
namespace kestrel {
namespace {

bool DeviceAttached(FtdiUsbDriver& driver) {
    std::uint32_t count = 0;
    return driver.CountDevices(count) == 0 && count > 0;
}

TEST(FtdiUsbDriverTest, OpenWithoutADeviceFailsWithNoDevice) {
    FtdiUsbDriver driver;
    if (DeviceAttached(driver)) {
        GTEST_SKIP() << "an FTDI device is attached";
    }
    for (const int index : {0, 1, 9, -1, 1000}) {
        SCOPED_TRACE(index);
        UsbHandle handle = 77;
        EXPECT_NE(driver.Open(index, handle), 0);
        EXPECT_EQ(handle, kNoUsbHandle);
        EXPECT_EQ(driver.LastOpenProblem(), UsbOpenProblem::NoDevice);
    }
}

TEST(FtdiUsbDriverTest, CallsOnAHandleThatIsNotOpenFail) {
    FtdiUsbDriver driver;
    std::array<std::uint8_t, 4> buffer{1, 2, 3, 4};
    std::uint32_t done = 99;
    for (const UsbHandle handle : {kNoUsbHandle, UsbHandle{1}, UsbHandle{-5}}) {
        SCOPED_TRACE(handle);
        EXPECT_EQ(driver.Write(handle, buffer.data(), buffer.size(), done), FtdiUsbDriver::kBadHandle);
        EXPECT_EQ(done, 0U);
        done = 99;
        EXPECT_EQ(driver.Read(handle, buffer.data(), buffer.size(), done, 100), FtdiUsbDriver::kBadHandle);
        EXPECT_EQ(done, 0U);
        done = 99;
        EXPECT_EQ(driver.QueueStatus(handle, done), FtdiUsbDriver::kBadHandle);
        EXPECT_EQ(done, 0U);
        EXPECT_EQ(driver.SetBaudRate(handle, 115200), FtdiUsbDriver::kBadHandle);
        EXPECT_EQ(driver.SetDataCharacteristics(handle, 8, 2, 0), FtdiUsbDriver::kBadHandle);
        EXPECT_EQ(driver.PrepareForSync(handle), FtdiUsbDriver::kBadHandle);
        EXPECT_EQ(driver.Close(handle), FtdiUsbDriver::kBadHandle);
    }
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
}

}  // namespace
}  // namespace kestrel
