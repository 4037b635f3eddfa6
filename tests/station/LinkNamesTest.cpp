// The links a line can name: the ports listed from the machine, and the USB
// boxes by "USB:N" (index) or "USB:SERIAL" (the chip's serial number), never
// falling back to another box.
#include "StationTestSupport.h"
#include "session/DownloadWorkflow.h"
#include "station/PortListing.h"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

// A machine with a USB serial converter (with its by-id name and identity)
// and two boxes on the USB chip's own driver.
struct StationMachine {
    StationMachine() {
        const std::string usb = "sys/devices/pci0/usb1/1-1/";
        Make(usb + "idVendor", "0403\n");
        Make(usb + "idProduct", "6001\n");
        Make(usb + "manufacturer", "FTDI\n");
        Make(usb + "product", "FT232R USB UART\n");
        Make(usb + "serial", "A50285BI\n");
        Make(usb + "1-1:1.0/ttyUSB0/x", "");
        Make("dev/ttyUSB0", "");
        Make("sys/class/tty/ttyUSB0/device", "", Path(usb + "1-1:1.0/ttyUSB0"));
        Make("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "", "../../ttyUSB0");
        driver.AddDevice({.behaviour = {}, .serialNumber = "KST00001"});
        driver.AddDevice({.behaviour = {}, .serialNumber = ""});
    }
    // A file with `text` in it, or a symbolic link to `target`.
    void Make(const std::string& file, const std::string& text, const std::string& target = "") {
        fs::create_directories(fs::path(Path(file)).parent_path());
        if (target.empty())
            tree.Write(file, text);
        else
            fs::create_directory_symlink(target, Path(file));
    }
    std::string Path(const std::string& relative) const { return (tree.Path() / relative).string(); }

    TempDir tree;
    std::string root = Path("");
    std::string byId = Path("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    std::string dev = fs::path(root).lexically_normal().string() + "dev/";
    ManualClock clock;
    emulator::SimulatedUsbDriver driver{clock};
};

TEST(ListPorts, SerialDevicesThenUsbBoxesAsTextAndJsonAndEachNameOfALinkFindsItsEntry) {
    StationMachine machine;
    const auto ports = ListPorts(machine.root, &machine.driver);
    const Lines text = {
        machine.byId + " (" + machine.dev + "ttyUSB0)  USB 0403:6001 FTDI FT232R USB UART, serial A50285BI",
        "USB:KST00001 (USB index 0)  USB 0403:6001 Kestrel box, serial KST00001",
        "USB:1 (USB index 1)  USB 0403:6001 Kestrel box",
    };
    EXPECT_EQ(PortListText(ports), text);

    // For scripts the same entries; a USB box is found by its index.
    EXPECT_EQ(PortListJson(ports).at(2),
              R"({"event":"port","link":"USB:1","kind":"usb","index":1,"vendorId":"0403","productId":"6001",)"
              R"("manufacturer":"","description":"Kestrel box","serial":""})");

    const std::string converter = "USB 0403:6001 FTDI FT232R USB UART, serial A50285BI";
    // The identity each name finds, "" for none, and whether the link is there to be opened.
    for (const auto& [name, identity, present] : std::vector<std::tuple<std::string, std::string, bool>>{
             {machine.byId, converter, true},
             {"USB:KST00001", "USB 0403:6001 Kestrel box, serial KST00001", true},
             {"USB", "", true},  // any box will do, none in particular
             {"USB:2", "", false},
             {machine.dev + "ttyUSB7", "", false}}) {
        SCOPED_TRACE(name);
        const auto found = FindPort(ports, name);
        EXPECT_EQ(found ? DescribeIdentity(*found) : "", identity);
        EXPECT_EQ(LinkPresent(name, machine.driver), present);
    }
}

// Boxes KST-A, KST-B and one whose serial number "1" reads like an index.
struct ThreeBoxes : SimulatedBox {
    ThreeBoxes() {
        driver.Device(slot).serialNumber = "KST-A";
        driver.AddDevice({.behaviour = {}, .serialNumber = "KST-B"});
        driver.AddDevice({.behaviour = {}, .serialNumber = "1"});
    }
};

TEST(OpenInterface, AnIndexOrSerialOpensThatDeviceOnlyAMissingOrRefusingOneIsAnError) {
    // The name, whether KST-B refuses to open, the indices tried and the boxes left open (none: an error).
    for (const auto& [name, secondRefuses, attempts, open] :
         std::vector<std::tuple<std::string, bool, std::vector<int>, std::vector<bool>>>{
             {"USB:0", false, {0}, {true, false, false}},
             {"usb:KST-B", false, {1}, {false, true, false}},
             {"USB:1", false, {2}, {false, false, true}},      // a serial number wins over an index
             {"USB:KST-Z", false, {}, {false, false, false}},  // no such serial: nothing is opened at all
             {"USB:0x", false, {}, {false, false, false}},
             {"USB:KST-B", true, {1}, {false, false, false}}}) {
        SCOPED_TRACE(name + (secondRefuses ? " refuses" : ""));
        ThreeBoxes boxes;
        boxes.driver.Device(1).refuseOpen = secondRefuses;
        DataConverter session(boxes.status, boxes.Options());
        const bool opens = open != std::vector<bool>(3, false);
        EXPECT_EQ(session.OpenInterface(name, 115200), opens ? 0 : -1);
        EXPECT_EQ((std::vector<bool>{boxes.driver.IsOpen(0), boxes.driver.IsOpen(1), boxes.driver.IsOpen(2)}), open);
        EXPECT_EQ(boxes.driver.Calls().openIndices, attempts);
        EXPECT_EQ(boxes.status.lines(), opens ? Lines{} : Lines{"Error: cannot open Ixo Serial Device"});
    }
}

}  // namespace
}  // namespace kestrel::testing
