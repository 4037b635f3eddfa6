#include "links/SerialPortList.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// A throw-away /dev and /sys, laid out as the kernel does, from plain files,
// directories and symbolic links.
class FakeMachine {
public:
    FakeMachine() {
        std::string pattern = (fs::temp_directory_path() / "kestrel-ports-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
    }
    ~FakeMachine() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::string Root() const { return root_.string(); }
    std::string Path(const std::string& relative) const { return (root_ / relative).string(); }

    void Write(const std::string& relative, const std::string& text = "") const {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << text;
    }
    void Link(const std::string& relative, const std::string& target) const {
        fs::create_directories((root_ / relative).parent_path());
        fs::create_directory_symlink(target, root_ / relative);
    }
    // A USB device directory with its identity, and a tty `depth` levels below it.
    void UsbTty(const std::string& tty, const std::string& device, int depth, const std::string& vendor) const {
        for (const auto& [file, text] : {std::pair{"idVendor", vendor}, {"idProduct", "6001"},
                                         {"manufacturer", "FTDI"}, {"product", "Kestrel Box"}, {"serial", "A1"}}) {
            Write(device + "/" + file, text + "\n");
        }
        std::string below = device;
        for (int level = 0; level < depth; ++level) {
            below += "/" + tty + "-" + std::to_string(level);
        }
        fs::create_directories(root_ / below);
        Link("sys/class/tty/" + tty + "/device", (root_ / below).string());
    }

private:
    fs::path root_;
};

TEST(SerialPortList, FindsUsbThenModemThenRealBuiltinPortsWithTheirNamesAndIdentity) {
    EXPECT_TRUE(ListSerialPorts("/nonexistent/kestrel-tree").empty());
    FakeMachine machine;
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "ttyS2", "ttyS3",
                             "tty1", "ttyUSB", "ttyUSBx", "console"}) {
        machine.Write(std::string("dev/") + name);
    }
    // ttyS0 has a UART; ttyS1's slot found none (type 0); ttyS2 has no device;
    // ttyS3's driver reports no type at all.
    machine.Write("sys/devices/platform/serial8250/x");
    machine.Link("sys/class/tty/ttyS0/device", machine.Path("sys/devices/platform/serial8250"));
    machine.Write("sys/class/tty/ttyS0/type", "4\n");
    machine.Link("sys/class/tty/ttyS1/device", machine.Path("sys/devices/platform/serial8250"));
    machine.Write("sys/class/tty/ttyS1/type", "0\n");
    machine.Write("sys/class/tty/ttyS2/type", "4\n");
    machine.Link("sys/class/tty/ttyS3/device", machine.Path("sys/devices/platform/serial8250"));

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

    const auto ports = ListSerialPorts(machine.Root());
    std::vector<std::string> paths;
    for (const auto& port : ports) {
        paths.push_back(port.devicePath);
    }
    const auto dev = [&](const char* name) { return machine.Path(std::string("dev/") + name); };
    ASSERT_EQ(paths, (std::vector<std::string>{dev("ttyUSB0"), dev("ttyUSB2"), dev("ttyUSB10"), dev("ttyACM0"),
                                               dev("ttyS0"), dev("ttyS3")}));
    EXPECT_EQ(ports[0].kind, SerialPortKind::UsbSerial);
    EXPECT_EQ(ports[3].kind, SerialPortKind::UsbModem);
    EXPECT_EQ(ports[5].kind, SerialPortKind::Builtin);

    EXPECT_EQ(ports[0].LinkName(), machine.Path("dev/serial/by-id/usb-FTDI_Kestrel_A1-if00-port0"));
    EXPECT_EQ(ports[0].vendorId, std::optional<std::uint16_t>(0x0403));
    EXPECT_EQ(ports[0].productId, std::optional<std::uint16_t>(0x6001));
    EXPECT_EQ(ports[0].manufacturer + "/" + ports[0].product + "/" + ports[0].serialNumber, "FTDI/Kestrel Box/A1");
    EXPECT_EQ(ports[3].LinkName(), machine.Path("dev/serial/by-id/usb-Acme_Modem-if00"));
    EXPECT_EQ(ports[3].vendorId, std::optional<std::uint16_t>(0x2e8a));
    EXPECT_EQ(ports[1].LinkName(), dev("ttyUSB2"));
    EXPECT_FALSE(ports[1].vendorId.has_value());
    EXPECT_EQ(ports[1].productId, std::optional<std::uint16_t>(0x6001));
    EXPECT_FALSE(ports[4].vendorId.has_value()) << "a platform UART has no USB identity";
}

}  // namespace
}  // namespace kestrel
