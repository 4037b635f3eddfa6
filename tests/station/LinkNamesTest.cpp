// The links a line can name: the ports listed from the machine, and the USB
// boxes by "USB:N" (index) or "USB:SERIAL" (the chip's serial number), never
// falling back to another box.
#include "StationTestSupport.h"
#include "session/DownloadWorkflow.h"
#include "station/PortListing.h"

namespace kestrel::testing {
namespace {

// Two boxes on the USB chip's own driver, on a machine without serial devices.
// The listing of ttys, by-id names and their identity is SerialPortListTest's,
// and the rig in tests/vm lists both kinds through the real kernel.
TEST(ListPorts, UsbBoxesAsTextAndJsonAndEachNameOfALinkFindsItsEntry) {
    const TempDir root;
    ManualClock clock;
    emulator::SimulatedUsbDriver driver{clock};
    driver.AddDevice({.behaviour = {}, .serialNumber = "KST00001"});
    driver.AddDevice({.behaviour = {}, .serialNumber = ""});
    const auto ports = ListPorts(root.Path().string() + "/", &driver);
    EXPECT_EQ(PortListText(ports), (Lines{"USB:KST00001 (USB index 0)  USB 0403:6001 Kestrel box, serial KST00001",
                                          "USB:1 (USB index 1)  USB 0403:6001 Kestrel box"}));
    // For scripts the same entries; a USB box is found by its index.
    EXPECT_EQ(PortListJson(ports).at(1),
              R"({"event":"port","link":"USB:1","kind":"usb","index":1,"vendorId":"0403","productId":"6001",)"
              R"("manufacturer":"","description":"Kestrel box","serial":""})");
    // The identity each name finds, "" for none, and whether the link is there to be opened.
    for (const auto& [name, identity, present] : std::vector<std::tuple<std::string, std::string, bool>>{
             {"USB:KST00001", "USB 0403:6001 Kestrel box, serial KST00001", true},
             {"USB", "", true},  // any box will do, none in particular
             {"USB:2", "", false},
             {root.Path().string() + "/ttyUSB7", "", false}}) {
        SCOPED_TRACE(name);
        const auto found = FindPort(ports, name);
        EXPECT_EQ(found ? DescribeIdentity(*found) : "", identity);
        EXPECT_EQ(LinkPresent(name, driver), present);
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
