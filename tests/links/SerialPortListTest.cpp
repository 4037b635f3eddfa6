#include "links/SerialPortList.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

TEST(SerialPortList, FindsUsbThenModemThenRealBuiltinPortsWithTheirNamesAndIdentity) {
    EXPECT_TRUE(ListSerialPorts("/nonexistent/kestrel-tree").empty());
    // A throw-away /dev and /sys, laid out as the kernel does, from plain files,
    // directories and symbolic links.
    testing::TempDir tree;
    const auto path = [&](const std::string& relative) { return (tree.Path() / relative).string(); };
    const auto file = [&](const std::string& relative, const std::string& text) {
        fs::create_directories(fs::path(path(relative)).parent_path());
        std::ofstream(path(relative)) << text;
    };
    const auto link = [&](const std::string& relative, const std::string& target) {
        fs::create_directories(fs::path(path(relative)).parent_path());
        fs::create_directory_symlink(target, path(relative));
    };
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "ttyS2", "ttyS3", "tty1",
                             "ttyUSB", "ttyUSBx", "console"}) {
        file(std::string("dev/") + name, "");
    }
    // ttyS0 has a UART; ttyS1's slot found none (type 0); ttyS2 has no device;
    // ttyS3's driver reports no type at all.
    file("sys/devices/platform/serial8250/x", "");
    for (const char* tty : {"ttyS0", "ttyS1", "ttyS3"}) {
        link(std::string("sys/class/tty/") + tty + "/device", path("sys/devices/platform/serial8250"));
    }
    file("sys/class/tty/ttyS0/type", "4\n");
    file("sys/class/tty/ttyS1/type", "0\n");
    file("sys/class/tty/ttyS2/type", "4\n");
    // A converter's tty is two levels below its USB device, a modem's one; ttyUSB2's identity is damaged.
    for (const auto& [tty, device, depth, vendor] : {std::tuple{"ttyUSB0", "sys/devices/usb1/1-1", 2, "0403"},
                                                     {"ttyACM0", "sys/devices/usb1/1-2", 1, "2e8a"},
                                                     {"ttyUSB2", "sys/devices/usb1/1-3", 2, "xyz"}}) {
        for (const auto& [name, text] : {std::pair{"idVendor", vendor},
                                         {"idProduct", "6001"},
                                         {"manufacturer", "FTDI"},
                                         {"product", "Kestrel Box"},
                                         {"serial", "A1"}}) {
            file(std::string(device) + "/" + name, std::string(text) + "\n");
        }
        std::string below = device;
        for (int level = 0; level < depth; ++level) {
            below += std::string("/") + tty + "-" + std::to_string(level);
        }
        fs::create_directories(path(below));
        link(std::string("sys/class/tty/") + tty + "/device", path(below));
    }
    // The first of two names wins; an absolute target names the tree's /dev;
    // a target outside /dev is no device of the list.
    link("dev/serial/by-id/usb-FTDI_Kestrel_A1-if00-port0", "../../ttyUSB0");
    link("dev/serial/by-id/usb-zz-second-name", "../../ttyUSB0");
    link("dev/serial/by-id/usb-Acme_Modem-if00", "/dev/ttyACM0");
    link("dev/serial/by-id/usb-stale", "../../../elsewhere/ttyUSB2");

    using Id = std::optional<std::uint16_t>;
    struct Row {
        std::string dev;
        SerialPortKind kind;
        std::string name;
        Id vendor, product;
    };
    using enum SerialPortKind;
    const std::vector<Row> expected{
        {"ttyUSB0", UsbSerial, "serial/by-id/usb-FTDI_Kestrel_A1-if00-port0", 0x0403, 0x6001},
        {"ttyUSB2", UsbSerial, "ttyUSB2", std::nullopt, 0x6001},
        {"ttyUSB10", UsbSerial, "ttyUSB10", std::nullopt, std::nullopt},
        {"ttyACM0", UsbModem, "serial/by-id/usb-Acme_Modem-if00", 0x2e8a, 0x6001},
        {"ttyS0", Builtin, "ttyS0", std::nullopt, std::nullopt},  // a platform UART has no USB identity
        {"ttyS3", Builtin, "ttyS3", std::nullopt, std::nullopt},
    };
    const auto ports = ListSerialPorts(tree.Path().string());
    ASSERT_EQ(ports.size(), expected.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(expected[i].dev);
        EXPECT_EQ(ports[i].devicePath, path("dev/" + expected[i].dev));
        EXPECT_EQ(ports[i].kind, expected[i].kind);
        EXPECT_EQ(ports[i].LinkName(), path("dev/" + expected[i].name));
        EXPECT_EQ(ports[i].vendorId, expected[i].vendor);
        EXPECT_EQ(ports[i].productId, expected[i].product);
    }
    EXPECT_EQ(ports[0].manufacturer + "/" + ports[0].product + "/" + ports[0].serialNumber, "FTDI/Kestrel Box/A1");
}

}  // namespace
}  // namespace kestrel
