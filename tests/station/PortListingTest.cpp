// The ports listed from the machine and the USB boxes, and each name of a link
// finding its entry.
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
    SimulatedBox box;  // its serial number is KST00001
    box.driver.AddDevice({.behaviour = {}, .serialNumber = ""});
    const auto ports = ListPorts(root.Path().string() + "/", &box.driver);
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
        EXPECT_EQ(LinkPresent(name, box.driver), present);
    }
}

}  // namespace
}  // namespace kestrel::testing
