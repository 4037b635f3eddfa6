#include "links/SerialDeviceIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

// The tty's directory in a sysfs tree and the files around it, against the serial number read:
// the nearest USB device's, never a hub's above it nor anything outside sys.
TEST(UsbSerialNumberOfDevice, ClimbsFromTheTtyToTheNearestUsbDeviceAndNoFurther) {
    const std::string hub = "sys/devices/pci0/usb1/1-1/", box = hub + "1-1.4/",
                      tty = box + "1-1.4:1.0/ttyUSB0/tty/ttyUSB0";
    const std::map<std::string, std::string> around = {{hub + "idVendor", "05e3\n"},
                                                       {hub + "serial", "HUB-1\n"},
                                                       {"idVendor", "0403\n"},  // outside sys
                                                       {"serial", "OUTSIDE\n"}};
    const struct {
        std::string tty;
        std::map<std::string, std::string> files;
        std::string serial;
    } cases[] = {
        {tty, {{box + "idVendor", "0403\n"}, {box + "serial", "KST-A\n"}}, "KST-A"},
        {tty, {{box + "idVendor", "0403\n"}, {box + "serial", "KST-B \r\n"}}, "KST-B"},
        {tty, {{box + "idVendor", "0403\n"}}, ""},  // a box without a serial number
        {"sys/devices/virtual/tty/ttyS0", {}, ""},
    };
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ::grantpt(master);
    ::unlockpt(master);
    const std::string pty = ::ptsname(master);
    struct stat info {};
    ASSERT_EQ(::stat(pty.c_str(), &info), 0);
    const std::string number = std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tty);
        const TempDir root;
        fs::create_directories(root.Path() / c.tty);
        fs::create_directories(root.Path() / "sys/dev/char");
        fs::create_directory_symlink(root.Path() / c.tty, root.Path() / "sys/dev/char" / number);
        for (const auto& files : {around, c.files})
            for (const auto& [name, text] : files) {
                fs::create_directories((root.Path() / name).parent_path());
                root.Write(name, text);
            }
        fs::create_symlink(pty, root.Path() / "by-id");
        EXPECT_EQ(UsbSerialNumberOfDevice(pty, root.Path().string()), c.serial);
        EXPECT_EQ(UsbSerialNumberOfDevice((root.Path() / "by-id").string(), root.Path().string()), c.serial);
        EXPECT_EQ(UsbSerialNumberOfDevice(root.Write("plain-file", std::string()), root.Path().string()), "");
    }
    ::close(master);
}

}  // namespace
}  // namespace kestrel::testing
