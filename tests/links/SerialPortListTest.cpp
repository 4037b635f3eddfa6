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

// A throw-away /dev and /sys, laid out as the kernel does, from plain files,
// directories and symbolic links.
struct FakeMachine {
    std::string Path(const std::string& relative) const { return (dir.Path() / relative).string(); }
    void Write(const std::string& relative, const std::string& text = "") const {
        fs::create_directories(fs::path(Path(relative)).parent_path());
        std::ofstream(Path(relative)) << text;
    }
    void Link(const std::string& relative, const std::string& target) const {
        fs::create_directories(fs::path(Path(relative)).parent_path());
        fs::create_directory_symlink(target, Path(relative));
    }
    // A USB device directory with its identity, and a tty `depth` levels below it.
    void UsbTty(const std::string& tty, const std::string& device, int depth, const std::string& vendor) const {
        for (const auto& [file, text] : {std::pair{"idVendor", vendor},
                                         {"idProduct", "6001"},
                                         {"manufacturer", "FTDI"},
                                         {"product", "Kestrel Box"},
                                         {"serial", "A1"}}) {
            Write(device + "/" + file, text + "\n");
        }
        std::string below = device;
        for (int level = 0; level < depth; ++level) {
            below += "/" + tty + "-" + std::to_string(level);
        }
        fs::create_directories(Path(below));
        Link("sys/class/tty/" + tty + "/device", Path(below));
    }

    testing::TempDir dir;
};

TEST(SerialPortList, FindsUsbThenModemThenRealBuiltinPortsWithTheirNamesAndIdentity) {
    EXPECT_TRUE(ListSerialPorts("/nonexistent/kestrel-tree").empty());
    FakeMachine machine;
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "ttyS2", "ttyS3", "tty1",
                             "ttyUSB", "ttyUSBx", "console"}) {
        machine.Write(std::string("dev/") + name);
    }
    // ttyS0 has a UART; ttyS1's slot found none (type 0); ttyS2 has no device;
    // ttyS3's driver reports no type at all.
    machine.Write("sys/devices/platform/serial8250/x");
    for (const char* tty : {"ttyS0", "ttyS1", "ttyS3"}) {
        machine.Link(std::string("sys/class/tty/") + tty + "/device", machine.Path("sys/devices/platform/serial8250"));
    }
    machine.Write("sys/class/tty/ttyS0/type", "4\n");
    machine.Write("sys/class/tty/ttyS1/type", "0\n");
    machine.Write("sys/class/tty/ttyS2/type", "4\n");

    // A converter's tty is two levels below its USB device, a modem's one.
    machine.UsbTty("ttyUSB0", "sys/devices/usb1/1-1", 2, "0403");
    machine.UsbTty("ttyACM0", "sys/devices/usb1/1-2", 1, "2e8a");
    machine.UsbTty("ttyUSB2", "sys/devices/usb1/1-3", 2, "xyz");  // damaged identity
    // The first of two names wins; an absolute target names the tree's /dev;
    // a target outside /dev is no device of the list.
    machine.Link("dev/serial/by-id/usb-FTDI_Kestrel_A1-if00-port0", "../../ttyUSB0");
    machine.Link("dev/serial/by-id/usb-zz-second-name", "../../ttyUSB0");
    machine.Link("dev/serial/by-id/usb-Acme_Modem-if00", "/dev/ttyACM0");
    machine.Link("dev/serial/by-id/usb-stale", "../../../elsewhere/ttyUSB2");

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
    const auto ports = ListSerialPorts(machine.dir.Path().string());
    ASSERT_EQ(ports.size(), expected.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(expected[i].dev);
        EXPECT_EQ(ports[i].devicePath, machine.Path("dev/" + expected[i].dev));
        EXPECT_EQ(ports[i].kind, expected[i].kind);
        EXPECT_EQ(ports[i].LinkName(), machine.Path("dev/" + expected[i].name));
        EXPECT_EQ(ports[i].vendorId, expected[i].vendor);
        EXPECT_EQ(ports[i].productId, expected[i].product);
    }
    EXPECT_EQ(ports[0].manufacturer + "/" + ports[0].product + "/" + ports[0].serialNumber, "FTDI/Kestrel Box/A1");
}

}  // namespace
}  // namespace kestrel
