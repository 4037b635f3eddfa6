#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LineTestSupport.h"
#include "session/DownloadWorkflow.h"
#include "session/LinkNames.h"
#include "support/SimulatedBox.h"

// A line with several boxes names each one: "USB:N" by index, "USB:SERIAL" by
// the chip's serial number, and never falls back to another box.
namespace kestrel::testing {
namespace {

using emulator::SimulatedUsbDevice;

TEST(ChooseLink, UsbWithAColonNamesOneDevice) {
    EXPECT_EQ(ChooseLink("USB:3").kind, LinkChoice::Kind::Usb);
    EXPECT_EQ(ChooseLink("USB:3").usbSelector, "3");
    EXPECT_EQ(ChooseLink("usb:KST00002").usbSelector, "KST00002");
    EXPECT_EQ(ChooseLink("USB").usbSelector, "");
    EXPECT_EQ(ChooseLink("USB").kind, LinkChoice::Kind::Usb);
    for (const char* refused : {"USB:", "USB1", "USBX:1"}) {
        SCOPED_TRACE(refused);
        EXPECT_EQ(ChooseLink(refused).kind, LinkChoice::Kind::None);
        EXPECT_NE(ChooseLink(refused).refusal, 0);
    }
}

TEST(FindUsbDevice, ASerialNumberWinsOverAnIndexAndUnknownNamesFindNothing) {
    std::vector<UsbDeviceInfo> devices(3);
    for (int i = 0; i < 3; ++i) devices[static_cast<std::size_t>(i)].index = i;
    devices[0].serialNumber = "A50285BI";
    devices[2].serialNumber = "1";  // a serial that reads like an index
    EXPECT_EQ(FindUsbDevice("A50285BI", devices), 0);
    EXPECT_EQ(FindUsbDevice("1", devices), 2);
    EXPECT_EQ(FindUsbDevice("0", devices), 0);
    EXPECT_EQ(FindUsbDevice("7", devices), 7);  // an index past the listing is still tried
    EXPECT_EQ(FindUsbDevice("a50285bi", devices), -1);  // serial numbers keep their case
    EXPECT_EQ(FindUsbDevice("12345678", devices), -1);
    EXPECT_EQ(FindUsbDevice("2x", devices), -1);
}

struct ThreeBoxes : SimulatedBox {
    ThreeBoxes() {
        driver.Device(slot).serialNumber = "KST-A";
        for (const char* serial : {"KST-B", "KST-C"}) {
            SimulatedUsbDevice device;
            device.serialNumber = serial;
            driver.AddDevice(device);
        }
    }
    std::vector<bool> OpenSlots() const {
        return {driver.IsOpen(0), driver.IsOpen(1), driver.IsOpen(2)};
    }
};

TEST(OpenInterface, AnIndexOrSerialOpensThatDeviceOnlyWithOneAttempt) {
    struct Case {
        std::string name;
        std::vector<bool> open;
    };
    const std::vector<Case> cases = {
        {"USB:1", {false, true, false}},
        {"USB:KST-C", {false, false, true}},
        {"usb:KST-A", {true, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ThreeBoxes boxes;
        DataConverter session(boxes.status, boxes.Options());
        EXPECT_EQ(session.OpenInterface(c.name, 115200), 0);
        EXPECT_EQ(boxes.OpenSlots(), c.open);
        EXPECT_EQ(boxes.driver.Calls().openIndices.size(), 1u);
        EXPECT_TRUE(boxes.status.lines().empty());
    }
}

TEST(OpenInterface, ASerialNumberFollowsItsBoxWhenTheIndicesShift) {
    ThreeBoxes boxes;
    boxes.driver.Device(0).present = false;  // KST-A unplugged: KST-C is index 1 now
    DataConverter session(boxes.status, boxes.Options());
    EXPECT_EQ(session.OpenInterface("USB:KST-C", 115200), 0);
    EXPECT_EQ(boxes.OpenSlots(), (std::vector<bool>{false, false, true}));
    EXPECT_EQ(boxes.driver.Calls().openIndices, std::vector<int>{1});
}

TEST(OpenInterface, ANamedBoxThatIsMissingOrRefusesIsAnErrorNeverAnotherBox) {
    struct Case {
        std::string name;
        std::vector<int> attempts;
    };
    const std::vector<Case> cases = {
        {"USB:KST-Z", {}},   // no such serial: nothing is opened at all
        {"USB:5", {5}},      // no device 5
        {"USB:KST-B", {1}},  // the device refuses
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ThreeBoxes boxes;
        boxes.driver.Device(1).refuseOpen = true;
        DataConverter session(boxes.status, boxes.Options());
        EXPECT_EQ(session.OpenInterface(c.name, 115200), -1);
        EXPECT_EQ(boxes.status.lines(), std::vector<std::string>{"Error: cannot open Ixo Serial Device"});
        EXPECT_EQ(boxes.driver.Calls().openIndices, c.attempts);
        EXPECT_EQ(boxes.OpenSlots(), (std::vector<bool>{false, false, false}));
    }
}

TEST(RunDownload, ABinaryImageReopensTheNamedBoxAt38400) {
    LineFirmware firmware;
    ThreeBoxes boxes;
    boxes.driver.Model(1) = emulator::BoxModel(emulator::BoxBehaviour{.firmwareType = 2});
    EXPECT_EQ(RunDownload("USB:KST-B", firmware.bin, boxes.status, boxes.Options()), DownloadOutcome::Success);
    EXPECT_EQ(boxes.driver.BaudRates(1), (std::vector<std::uint32_t>{115200, 38400}));
    EXPECT_TRUE(boxes.driver.BaudRates(0).empty());
    EXPECT_TRUE(boxes.driver.BaudRates(2).empty());
    EXPECT_EQ(boxes.driver.Model(1).LastImage(), firmware.binImage);
}

}  // namespace
}  // namespace kestrel::testing
