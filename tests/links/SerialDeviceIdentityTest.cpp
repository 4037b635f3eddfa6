#include "links/SerialDeviceIdentity.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "support/FakeUsbTty.h"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

// From the tty's directory up to the nearest USB device (the one with an idVendor): its serial number, by the
// tty's path and by a link to it; never a hub's above it, nor anything outside sys.
TEST(UsbSerialNumberOfDevice, ClimbsFromTheTtyToTheNearestUsbDeviceAndNoFurther) {
    const FakeUsbTty tty("KST-A");
    const auto serial = [&tty] {
        const std::string byPath = UsbSerialNumberOfDevice(tty.path, tty.root);
        return byPath == UsbSerialNumberOfDevice(tty.link, tty.root) ? byPath : "by path and link: two answers";
    };
    for (const auto& [name, text] : {std::pair{"sys/devices/pci0/usb1/idVendor", "1d6b\n"},
                                     {"sys/devices/pci0/usb1/serial", "HUB-1\n"},
                                     {"idVendor", "0403\n"},
                                     {"serial", "OUTSIDE\n"}})
        tty.tree.Write(name, std::string(text));
    EXPECT_EQ(serial(), "KST-A");
    tty.tree.Write("sys/devices/pci0/usb1/1-1/serial", std::string("KST-B \r\n"));
    EXPECT_EQ(serial(), "KST-B");
    fs::remove(tty.tree.Path() / "sys/devices/pci0/usb1/1-1/serial");
    EXPECT_EQ(serial(), "");  // a box without a serial number

    // A tty of no USB device: the climb ends at sys, before the root above it.
    for (const auto& entry : fs::directory_iterator(tty.tree.Path() / "sys/dev/char")) {
        fs::remove(entry.path());
        fs::create_directories(tty.tree.Path() / "sys/devices/virtual/tty/ttyS0");
        fs::create_directory_symlink(tty.tree.Path() / "sys/devices/virtual/tty/ttyS0", entry.path());
    }
    EXPECT_EQ(serial(), "");
}

}  // namespace
}  // namespace kestrel::testing
