// The link a session opens by its name and what opening it leaves in the session: a USB box by "USB:N" (index) or
// "USB:SERIAL" (the chip's serial number), never falling back to another box,
// and the reason of each open that fails.
#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <tuple>

#include "emulator/SimulatedUsbDriver.h"
#include "session/DataConverter.h"
#include "session/RecordingStatusList.h"
#include "support/SimulatedBox.h"
#include "support/Text.h"

namespace kestrel::testing {
namespace {

// The link kind, then each link the session holds and whether it is open.
std::string LinkState(const DataConverter& session) {
    const auto held = [](const auto& link, const std::string& name) {
        return !link ? "" : " " + name + (link->IsOpen() ? " open" : "");
    };
    return std::to_string(session.LinkKind) + held(session.serialLink, "serial") + held(session.usbLink, "usb");
}

// A device path that opens is the serial download's (DownloadWorkflowTest).
TEST(OpenInterface, EachNameGivesItsResultLinesAndLink) {
    const Lines unknown = {"Error: unknown interface"};
    constexpr int kAnyRefusal = 99;
    for (const auto& [name, result, lines, link] : std::vector<std::tuple<std::string, int, Lines, std::string>>{
             {"COM0", 4, unknown, "2 serial"},
             {"usb", 0, {}, "1 usb open"},
             {"USB1", kAnyRefusal, unknown, "0"},
             {"USB:", kAnyRefusal, unknown, "0"},  // names no box: never the first that opens
             {"", kAnyRefusal, unknown, "0"},
             {"/dev/kestrel-no-such-port", -1, {"Error: cannot open comport"}, "2 serial"},
         }) {
        SCOPED_TRACE("name \"" + name + "\"");
        SimulatedBox box;
        {
            DataConverter session(box.status, box.Options());
            const int opened = session.OpenInterface(name, 115200);
            EXPECT_TRUE(result == kAnyRefusal ? opened != 0 : opened == result) << opened;
            EXPECT_EQ(box.status.lines(), lines);
            EXPECT_EQ(LinkState(session), link);
        }
        EXPECT_FALSE(box.driver.IsOpen(box.slot)) << "ending the session closes the device";
    }
}

// "USB" takes the lowest of ten indices that opens and takes the settings.
TEST(OpenInterface, UsbTakesTheLowestOfTenIndicesThatAcceptsTheSettings) {
    SimulatedBox none;
    none.driver.Device(0).present = false;
    DataConverter failed(none.status, none.Options());
    EXPECT_EQ(failed.OpenInterface("USB", 115200), -1);
    EXPECT_EQ(failed.LinkKind, DataConverter::kLinkUsb);
    EXPECT_EQ(none.driver.Calls().openIndices, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(none.status.lines(), Lines{"Error: cannot open Ixo Serial Device"});

    SimulatedBox box;  // index 0 will not open, 1 refuses the baud rate, 2 and 3 would do
    box.driver.Device(0).refuseOpen = true;
    box.driver.Device(box.driver.AddDevice()).refuseBaudRate = true;
    box.driver.AddDevice();
    box.driver.AddDevice();
    DataConverter session(box.status, box.Options());
    EXPECT_EQ(session.OpenInterface("USB", 115200), 0);
    EXPECT_EQ(box.driver.Calls().openIndices, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(box.driver.IsOpen(2));
}

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
        SimulatedBox boxes;  // KST-A, KST-B and one whose serial number "1" reads like an index
        boxes.driver.Device(0).serialNumber = "KST-A";
        boxes.driver.AddDevice({.behaviour = {}, .refuseOpen = secondRefuses, .serialNumber = "KST-B"});
        boxes.driver.AddDevice({.behaviour = {}, .serialNumber = "1"});
        DataConverter session(boxes.status, boxes.Options());
        const bool opens = open != std::vector<bool>(3, false);
        EXPECT_EQ(session.OpenInterface(name, 115200), opens ? 0 : -1);
        EXPECT_EQ((std::vector<bool>{boxes.driver.IsOpen(0), boxes.driver.IsOpen(1), boxes.driver.IsOpen(2)}), open);
        EXPECT_EQ(boxes.driver.Calls().openIndices, attempts);
        EXPECT_EQ(boxes.status.lines(), opens ? Lines{} : Lines{"Error: cannot open Ixo Serial Device"});
    }
}

// Each session's USB open gets the driver's reason for that very open, while
// another session opens a box on another thread. That a plain "USB" keeps the
// reason of the box that refused past the indices where there is none is
// Ft232rDriverTest's (access-denied through "USB").
TEST(UsbOpenFailure, EachOpenOnEachThreadGetsItsOwnReason) {
    UsbLink::ForgetDeviceListing();
    emulator::SimulatedUsbDriver driver{SteadyClock()};
    auto& denying = driver.Device(driver.AddDevice());
    denying.refuseOpen = true;
    denying.openProblem = UsbOpenProblem::AccessDenied;
    driver.Device(driver.AddDevice()).serialNumber = "HELD";
    UsbHandle held = kNoUsbHandle;
    UsbOpenProblem problem = UsbOpenProblem::Other;
    ASSERT_EQ(driver.Open(1, held, problem), 0);
    const auto openMany = [&driver](const std::string& link, UsbOpenProblem expected, int& wrong) {
        for (int i = 0; i < 300; ++i) {
            RecordingStatusList status;
            std::optional<OpenFailure> failure;
            const SessionOptions options{.usbDriver = &driver,
                                         .openFailed = [&failure](const OpenFailure& reported) { failure = reported; }};
            DataConverter(status, options).OpenInterface(link, 115200);
            wrong += !failure || failure->name != link || failure->usbProblem != expected;
        }
    };
    int wrongDenied = 0, wrongBusy = 0;
    std::thread denied(openMany, "USB:0", UsbOpenProblem::AccessDenied, std::ref(wrongDenied));
    openMany("USB:HELD", UsbOpenProblem::Busy, wrongBusy);
    denied.join();
    EXPECT_EQ(wrongDenied, 0);
    EXPECT_EQ(wrongBusy, 0);
    UsbLink::ForgetDeviceListing();
}

}  // namespace
}  // namespace kestrel::testing
