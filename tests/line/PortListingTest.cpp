#include "session/PortListing.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "JsonCheck.h"
#include "LineTestSupport.h"
#include "emulator/SimulatedUsbDriver.h"

namespace kestrel::testing {
namespace {

using emulator::SimulatedUsbDevice;
using emulator::SimulatedUsbDriver;

// A machine with a USB serial converter (with its by-id name and identity),
// a built-in UART, and two boxes on the USB chip's own driver.
struct LineMachine {
    LineMachine() {
        tree.Write("dev/ttyUSB0");
        tree.Write("dev/ttyS0");
        const std::string usbDevice = "sys/devices/pci0/usb1/1-1";
        for (const auto& [file, text] : {std::pair{"idVendor", "0403"}, {"idProduct", "6001"},
                                         {"manufacturer", "FTDI"}, {"product", "FT232R USB UART"},
                                         {"serial", "A50285BI"}}) {
            tree.Write(usbDevice + "/" + file, std::string(text) + "\n");
        }
        tree.Write(usbDevice + "/1-1:1.0/ttyUSB0/x");
        tree.Link("sys/class/tty/ttyUSB0/device", tree.Path(usbDevice + "/1-1:1.0/ttyUSB0"));
        tree.Write("sys/devices/platform/serial8250/x");
        tree.Link("sys/class/tty/ttyS0/device", tree.Path("sys/devices/platform/serial8250"));
        tree.Write("sys/class/tty/ttyS0/type", "4\n");
        tree.Link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");

        SimulatedUsbDevice box;
        box.serialNumber = "KST00001";
        driver.AddDevice(box);
        box.serialNumber = "";
        driver.AddDevice(box);
    }
    std::string Root() const { return tree.Path(""); }
    std::string ByIdPath() const {
        return tree.Path("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    }

    ScratchDir tree;
    ManualClock clock;
    SimulatedUsbDriver driver{clock};
};

TEST(ListPorts, SerialDevicesThenUsbBoxesAsTextAndJson) {
    LineMachine machine;
    const auto ports = ListPorts(machine.Root(), &machine.driver);
    ASSERT_EQ(ports.size(), 4u);

    const std::string root = std::filesystem::path(machine.Root()).lexically_normal().string();
    const std::vector<std::string> text = {
        machine.ByIdPath() + " (" + root + "dev/ttyUSB0)  USB 0403:6001 FTDI FT232R USB UART, serial A50285BI",
        root + "dev/ttyS0",
        "USB:KST00001 (USB index 0)  USB 0403:6001 Kestrel box, serial KST00001",
        "USB:1 (USB index 1)  USB 0403:6001 Kestrel box",
    };
    EXPECT_EQ(PortListText(ports), text);

    const auto json = PortListJson(ports);
    ASSERT_EQ(json.size(), 4u);
    std::vector<JsonFields> objects;
    for (const auto& line : json) {
        const auto fields = JsonCheck::Parse(line);
        ASSERT_TRUE(fields.has_value()) << line;
        objects.push_back(*fields);
    }
    EXPECT_EQ(objects[0].at("kind").text, "serial");
    EXPECT_EQ(objects[0].at("link").text, machine.ByIdPath());
    EXPECT_EQ(objects[0].at("device").text, root + "dev/ttyUSB0");
    EXPECT_EQ(objects[0].at("vendorId").text, "0403");
    EXPECT_EQ(objects[0].at("serial").text, "A50285BI");
    EXPECT_EQ(objects[1].at("byId").type, JsonValue::Type::Null);
    EXPECT_EQ(objects[1].at("vendorId").type, JsonValue::Type::Null);
    EXPECT_EQ(objects[2].at("kind").text, "usb");
    EXPECT_DOUBLE_EQ(objects[2].at("index").number, 0);
    EXPECT_EQ(objects[2].at("link").text, "USB:KST00001");
    EXPECT_EQ(objects[3].at("link").text, "USB:1");
    EXPECT_EQ(objects[3].at("description").text, "Kestrel box");
}

TEST(ListPorts, WithoutAUsbDriverOrWhenItsListingFailsOnlySerialDevicesRemain) {
    LineMachine machine;
    EXPECT_EQ(ListPorts(machine.Root(), nullptr).size(), 2u);
    machine.driver.FailListing(true);
    const auto ports = ListPorts(machine.Root(), &machine.driver);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[1].kind, PortEntry::Kind::Serial);
}

TEST(FindPort, EachNameOfALinkFindsItsEntryForTheIdentity) {
    LineMachine machine;
    const auto ports = ListPorts(machine.Root(), &machine.driver);
    const std::string root = std::filesystem::path(machine.Root()).lexically_normal().string();
    struct Case {
        std::string name;
        std::string identity;  // empty: not found
    };
    const std::vector<Case> cases = {
        {machine.ByIdPath(), "USB 0403:6001 FTDI FT232R USB UART, serial A50285BI"},
        {root + "dev/ttyUSB0", "USB 0403:6001 FTDI FT232R USB UART, serial A50285BI"},
        {"USB:KST00001", "USB 0403:6001 Kestrel box, serial KST00001"},
        {"USB:0", "USB 0403:6001 Kestrel box, serial KST00001"},
        {"USB:1", "USB 0403:6001 Kestrel box"},
        {"USB:2", ""},
        {"USB:KST00009", ""},
        {root + "dev/ttyUSB7", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto found = FindPort(ports, c.name);
        EXPECT_EQ(found.has_value(), !c.identity.empty());
        if (found) {
            EXPECT_EQ(DescribeIdentity(*found), c.identity);
        }
    }
}

TEST(LinkPresent, ADeviceFileOrAListedBoxIsThereAnythingElseIsNot) {
    LineMachine machine;
    EXPECT_TRUE(LinkPresent(machine.ByIdPath(), machine.driver));
    EXPECT_FALSE(LinkPresent(machine.Root() + "dev/ttyUSB7", machine.driver));
    EXPECT_TRUE(LinkPresent("USB", machine.driver));
    EXPECT_TRUE(LinkPresent("USB:KST00001", machine.driver));
    EXPECT_TRUE(LinkPresent("USB:1", machine.driver));
    EXPECT_FALSE(LinkPresent("USB:2", machine.driver));
    EXPECT_FALSE(LinkPresent("USB:KST00009", machine.driver));
    EXPECT_FALSE(LinkPresent("LPT1", machine.driver));
    EXPECT_FALSE(LinkPresent("COM9", machine.driver));
    machine.driver.FailListing(true);
    EXPECT_FALSE(LinkPresent("USB", machine.driver));
}

}  // namespace
}  // namespace kestrel::testing
