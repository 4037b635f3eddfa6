#include "links/SerialPortList.h"

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

TEST(SerialPortList, FindsUsbThenModemThenRealBuiltinPortsWithTheirNamesAndIdentity) {
    EXPECT_TRUE(ListSerialPorts("/nonexistent/kestrel-tree").empty());
    // A throw-away /dev and /sys, laid out as the kernel does: plain files, and
    // symbolic links where a target is given.
    testing::TempDir tree;
    const auto path = [&](const std::string& relative) { return (tree.Path() / relative).string(); };
    const auto make = [&](const std::string& relative, const std::string& text, const std::string& target = "") {
        fs::create_directories(fs::path(path(relative)).parent_path());
        if (target.empty())
            tree.Write(relative, text);
        else
            fs::create_directory_symlink(target, path(relative));
    };
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "tty1", "ttyUSBx"})
        make(std::string("dev/") + name, "");
    // ttyS0 has a UART; ttyS1's slot found none (type 0).
    fs::create_directories(path("sys/devices/platform/serial8250"));
    for (const auto& [tty, type] : {std::pair{"ttyS0", "4\n"}, {"ttyS1", "0\n"}}) {
        make(std::string("sys/class/tty/") + tty + "/device", "", path("sys/devices/platform/serial8250"));
        make(std::string("sys/class/tty/") + tty + "/type", type);
    }
    // A converter's tty is two levels below its USB device, a modem's one.
    for (const auto& [tty, device, below, vendor] :
         {std::tuple{"ttyUSB0", "sys/devices/usb1/1-1", "/1-1:1.0/x", "0403"},
          {"ttyACM0", "sys/devices/usb1/1-2", "/1-2:1.0", "2e8a"}}) {
        make(std::string(device) + "/idVendor", std::string(vendor) + "\n");
        make(std::string(device) + "/idProduct", "6001\n");
        fs::create_directories(path(std::string(device) + below));
        make(std::string("sys/class/tty/") + tty + "/device", "", path(std::string(device) + below));
    }
    // An absolute target names the tree's /dev.
    make("dev/serial/by-id/usb-FTDI_Kestrel_A1-if00-port0", "", "../../ttyUSB0");
    make("dev/serial/by-id/usb-Acme_Modem-if00", "", "/dev/ttyACM0");

    // Each port's device, kind, the name to open and its USB vendor and product.
    using Id = std::optional<std::uint16_t>;
    using Port = std::tuple<std::string, SerialPortKind, std::string, Id, Id>;
    const auto dev = [&](const std::string& name) { return path("dev/" + name); };
    std::vector<Port> found;
    for (const auto& p : ListSerialPorts(tree.Path().string()))
        found.emplace_back(p.devicePath, p.kind, p.LinkName(), p.vendorId, p.productId);
    using enum SerialPortKind;
    EXPECT_EQ(found,
              (std::vector<Port>{
                  {dev("ttyUSB0"), UsbSerial, dev("serial/by-id/usb-FTDI_Kestrel_A1-if00-port0"), 0x0403, 0x6001},
                  {dev("ttyUSB2"), UsbSerial, dev("ttyUSB2"), std::nullopt, std::nullopt},
                  {dev("ttyUSB10"), UsbSerial, dev("ttyUSB10"), std::nullopt, std::nullopt},
                  {dev("ttyACM0"), UsbModem, dev("serial/by-id/usb-Acme_Modem-if00"), 0x2e8a, 0x6001},
                  {dev("ttyS0"), Builtin, dev("ttyS0"), std::nullopt, std::nullopt},
              }));
}

}  // namespace
}  // namespace kestrel
