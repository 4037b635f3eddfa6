// Openers of one chip in one process, as usbfs and the kernel's serial driver
// see them: ctest preloads the FT232R model in front of libusb.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <filesystem>

#include "links/FtdiUsbDriver.h"
#include "support/TempDir.h"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

TEST(Ft232rClaim, AChipInUseIsRefusedAsBusyUntilItsHolderLetsItGo) {
    const TempDir dir;
    ::setenv("KESTREL_FT232R_BOXES", "KST-A,KST-B,KST-C", 1);
    // KST-C (at port 3) has its tty locked by a program, as the serial link locks the tty it opens.
    fs::create_directories(dir.Path() / "sys/bus/usb/devices/1-3:1.0/ttyUSB2");
    fs::create_directories(dir.Path() / "dev");
    const int tty = ::open(dir.Write("dev/ttyUSB2", std::string()).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(tty, LOCK_EX | LOCK_NB), 0);

    FtdiUsbDriver driver(dir.Path().string());
    UsbHandle first = kNoUsbHandle, again = kNoUsbHandle, third = kNoUsbHandle;
    UsbOpenProblem problem = UsbOpenProblem::Other;
    ASSERT_EQ(driver.Open(0, first, problem), 0);
    EXPECT_EQ(problem, UsbOpenProblem::None);
    EXPECT_NE(driver.Open(0, again, problem), 0);
    EXPECT_EQ(problem, UsbOpenProblem::Busy);
    EXPECT_EQ(driver.Open(2, third, problem), FtdiUsbDriver::kTtyInUse);
    EXPECT_EQ(problem, UsbOpenProblem::Busy);
    EXPECT_EQ(driver.Close(first), 0);
    ASSERT_EQ(driver.Open(0, again, problem), 0);  // the refused open left no claim behind
    EXPECT_EQ(driver.Close(again), 0);

    ::close(tty);  // the program let its tty go
    ASSERT_EQ(driver.Open(2, third, problem), 0);
    EXPECT_EQ(driver.Close(third), 0);
}

}  // namespace
}  // namespace kestrel::testing
