#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "links/FtdiUsbDriver.h"

// Runs against the real libftdi1 and libusb. The build machines have no FTDI
// device and often no USB bus at all, so every call has to fail cleanly there.
namespace kestrel {
namespace {

TEST(FtdiUsbDriverTest, CallsOnNoOpenHandleFailAndWithoutADeviceOpenFailsWithNoDevice) {
    FtdiUsbDriver driver;
    std::uint32_t done = 0;
    std::array<std::uint8_t, 4> buffer{1, 2, 3, 4};
    for (const UsbHandle handle : {kNoUsbHandle, UsbHandle{1}, UsbHandle{-5}}) {
        SCOPED_TRACE(handle);
        const auto countIsZero = [&done](UsbStatus status) { return status == FtdiUsbDriver::kBadHandle && done == 0; };
        EXPECT_TRUE(countIsZero(driver.Write(handle, buffer.data(), buffer.size(), done = 99)));
        EXPECT_TRUE(countIsZero(driver.Read(handle, buffer.data(), buffer.size(), done = 99, 100)));
        EXPECT_TRUE(countIsZero(driver.QueueStatus(handle, done = 99)));
        EXPECT_EQ(driver.SetBaudRate(handle, 115200), FtdiUsbDriver::kBadHandle);
        EXPECT_EQ(driver.SetDataCharacteristics(handle, 8, 2, 0), FtdiUsbDriver::kBadHandle);
        EXPECT_EQ(driver.PrepareForSync(handle), FtdiUsbDriver::kBadHandle);
        EXPECT_EQ(driver.Close(handle), FtdiUsbDriver::kBadHandle);
    }
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
    if (driver.CountDevices(done = 0) == 0 && done > 0)
        GTEST_SKIP() << "an FTDI device is attached";
    for (const int index : {0, 1, 9, -1, 1000}) {
        SCOPED_TRACE(index);
        UsbHandle handle = 77;
        UsbOpenProblem problem = UsbOpenProblem::Other;
        EXPECT_NE(driver.Open(index, handle, problem), 0);
        EXPECT_EQ(handle, kNoUsbHandle);
        EXPECT_EQ(problem, UsbOpenProblem::NoDevice);
    }
}

}  // namespace
}  // namespace kestrel
