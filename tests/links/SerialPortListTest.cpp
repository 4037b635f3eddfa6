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

// A throw-away machine: /dev and /sys as the kernel lays them out, built from
// plain files, directories and symbolic links.
class FakeMachine {
public:
    FakeMachine() {
        std::string pattern = (fs::temp_directory_path() / "kestrel-ports-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
        fs::create_directories(root_ / "dev");
    }
    ~FakeMachine() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    const fs::path& root() const { return root_; }
    std::string Path(const std::string& relative) const { return (root_ / relative).string(); }

    void Device(const std::string& name) const { Write("dev/" + name, ""); }
    void Write(const std::string& relative, const std::string& text) const {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << text;
    }
    void Link(const std::string& relative, const std::string& target) const {
        fs::create_directories((root_ / relative).parent_path());
        fs::create_directory_symlink(target, root_ / relative);
    }
    // A USB device directory with its identification attributes.
    void UsbDevice(const std::string& dir, const std::string& vendor, const std::string& product,
                   const std::string& manufacturer, const std::string& name, const std::string& serial) const {
        Write(dir + "/idVendor", vendor + "\n");
        Write(dir + "/idProduct", product + "\n");
        Write(dir + "/manufacturer", manufacturer + "\n");
        Write(dir + "/product", name + "\n");
        Write(dir + "/serial", serial + "\n");
    }

private:
    fs::path root_;
};

const SerialPortInfo* Find(const std::vector<SerialPortInfo>& ports, const std::string& devicePath) {
    for (const auto& port : ports) {
        if (port.devicePath == devicePath) {
            return &port;
        }
    }
    return nullptr;
}

std::vector<std::string> DevicePaths(const std::vector<SerialPortInfo>& ports) {
    std::vector<std::string> paths;
    for (const auto& port : ports) {
        paths.push_back(port.devicePath);
    }
    return paths;
}

TEST(SerialPortList, ListsUsbThenModemThenRealBuiltinPortsInNumberOrder) {
    FakeMachine machine;
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "ttyS2", "ttyS3",
                             "tty1", "ttyUSB", "ttyUSBx", "ttyS0.bak", "console"}) {
        machine.Device(name);
    }
    // ttyS0: a UART was found; ttyS1: the driver reserved the slot but found none;
    // ttyS2: no device at all; ttyS3: a driver that does not report a type.
    machine.Write("sys/devices/platform/serial8250/tty/ttyS0/type", "4\n");
    machine.Link("sys/class/tty/ttyS0", "../../devices/platform/serial8250/tty/ttyS0");
    machine.Link("sys/devices/platform/serial8250/tty/ttyS0/device", "../..");
    machine.Write("sys/class/tty/ttyS1/type", "0\n");
    machine.Link("sys/class/tty/ttyS1/device", "../../../devices/platform/serial8250");
    machine.Write("sys/class/tty/ttyS2/type", "4\n");
    machine.Link("sys/class/tty/ttyS3/device", "../../../devices/platform/serial8250");

    const auto ports = ListSerialPorts(machine.root().string());

    EXPECT_EQ(DevicePaths(ports),
              (std::vector<std::string>{machine.Path("dev/ttyUSB0"), machine.Path("dev/ttyUSB2"),
                                        machine.Path("dev/ttyUSB10"), machine.Path("dev/ttyACM0"),
                                        machine.Path("dev/ttyS0"), machine.Path("dev/ttyS3")}));
    ASSERT_EQ(ports.size(), 6u);
    EXPECT_EQ(ports[0].kind, SerialPortKind::UsbSerial);
    EXPECT_EQ(ports[3].kind, SerialPortKind::UsbModem);
    EXPECT_EQ(ports[4].kind, SerialPortKind::Builtin);
    EXPECT_FALSE(ports[4].vendorId.has_value()) << "a platform UART has no USB identity";
}

TEST(SerialPortList, PrefersTheStableByIdNameAndReadsTheUsbIdentity) {
    FakeMachine machine;
    machine.Device("ttyUSB0");
    machine.Device("ttyUSB1");
    machine.Device("ttyACM0");
    // Two names for ttyUSB0: the alphabetically first one is taken.
    machine.Link("dev/serial/by-id/usb-FTDI_Kestrel_A1-if00-port0", "../../ttyUSB0");
    machine.Link("dev/serial/by-id/usb-zz-second-name", "../../ttyUSB0");
    // Written by a tool that stores absolute targets: they name the tree's /dev.
    machine.Link("dev/serial/by-id/usb-Acme_Modem_77-if00", "/dev/ttyACM0");
    // A link to something outside /dev is no serial device of this list.
    machine.Link("dev/serial/by-id/usb-stale", "../../../elsewhere/ttyUSB1");

    // A USB serial converter: tty -> port -> interface -> USB device.
    const std::string ftdi = "sys/devices/pci0000:00/usb1/1-1";
    machine.UsbDevice(ftdi, "0403", "6001", "FTDI", "Kestrel Box", "A1");
    machine.Write(ftdi + "/1-1:1.0/ttyUSB0/tty/ttyUSB0/dev", "188:0\n");
    machine.Link("sys/class/tty/ttyUSB0", "../../devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0");
    machine.Link(ftdi + "/1-1:1.0/ttyUSB0/tty/ttyUSB0/device", "../..");
    // A modem: tty -> interface -> USB device, one level less.
    const std::string modem = "sys/devices/pci0000:00/usb1/1-2";
    machine.UsbDevice(modem, "2e8a", "000A", "Acme", "Modem", "77");
    machine.Link("sys/class/tty/ttyACM0/device", "../../../devices/pci0000:00/usb1/1-2/1-2:1.0");
    fs::create_directories(machine.root() / modem / "1-2:1.0");
    // A device whose identity files are damaged.
    const std::string broken = "sys/devices/pci0000:00/usb1/1-3";
    machine.UsbDevice(broken, "xyz", "12345", "Odd", "Thing", "");
    machine.Link("sys/class/tty/ttyUSB1/device", "../../../devices/pci0000:00/usb1/1-3/1-3:1.0/ttyUSB1");
    fs::create_directories(machine.root() / broken / "1-3:1.0/ttyUSB1");

    const auto ports = ListSerialPorts(machine.root().string());
    ASSERT_EQ(ports.size(), 3u);

    const auto* usb = Find(ports, machine.Path("dev/ttyUSB0"));
    ASSERT_NE(usb, nullptr);
    EXPECT_EQ(usb->byIdPath, machine.Path("dev/serial/by-id/usb-FTDI_Kestrel_A1-if00-port0"));
    EXPECT_EQ(usb->LinkName(), usb->byIdPath);
    EXPECT_EQ(usb->vendorId, std::optional<std::uint16_t>(0x0403));
    EXPECT_EQ(usb->productId, std::optional<std::uint16_t>(0x6001));
    EXPECT_EQ(usb->manufacturer, "FTDI");
    EXPECT_EQ(usb->product, "Kestrel Box");
    EXPECT_EQ(usb->serialNumber, "A1");

    const auto* acm = Find(ports, machine.Path("dev/ttyACM0"));
    ASSERT_NE(acm, nullptr);
    EXPECT_EQ(acm->byIdPath, machine.Path("dev/serial/by-id/usb-Acme_Modem_77-if00"));
    EXPECT_EQ(acm->vendorId, std::optional<std::uint16_t>(0x2e8a));
    EXPECT_EQ(acm->productId, std::optional<std::uint16_t>(0x000a));
    EXPECT_EQ(acm->serialNumber, "77");

    const auto* odd = Find(ports, machine.Path("dev/ttyUSB1"));
    ASSERT_NE(odd, nullptr);
    EXPECT_TRUE(odd->byIdPath.empty());
    EXPECT_EQ(odd->LinkName(), odd->devicePath);
    EXPECT_FALSE(odd->vendorId.has_value());
    EXPECT_FALSE(odd->productId.has_value());
    EXPECT_EQ(odd->manufacturer, "Odd");
}

TEST(SerialPortList, ToleratesMissingTreesAndDoesNotLeaveTheTreeForDetails) {
    EXPECT_TRUE(ListSerialPorts("/nonexistent/kestrel-tree").empty());

    FakeMachine machine;
    machine.Device("ttyUSB0");
    machine.Device("ttyS0");
    // No sysfs: the USB device is still offered, a ttyS cannot prove it is real.
    auto ports = ListSerialPorts(machine.root().string());
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].devicePath, machine.Path("dev/ttyUSB0"));
    EXPECT_FALSE(ports[0].vendorId.has_value());

    // A device link that points out of the tree's sysfs is not followed to the
    // identity files found there.
    FakeMachine outside;
    outside.UsbDevice("usb", "0403", "6001", "Elsewhere", "Not ours", "X");
    fs::create_directories(outside.root() / "usb/intf/port");
    machine.Link("sys/class/tty/ttyUSB0/device", (outside.root() / "usb/intf/port").string());
    ports = ListSerialPorts(machine.root().string());
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_FALSE(ports[0].vendorId.has_value());
    EXPECT_TRUE(ports[0].manufacturer.empty());
}

}  // namespace
}  // namespace kestrel
