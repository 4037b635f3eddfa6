#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/TextCase.h"
#include "session/LinkNames.h"
#include "support/SimulatedBox.h"

// Which link a name selects, and what opening it leaves in the session.
namespace kestrel::testing {
namespace {

using Lines = std::vector<std::string>;

// The link kind, then each link the session holds and whether it is open.
std::string LinkState(const DataConverter& session) {
    std::string state = std::to_string(session.LinkKind);
    if (session.serialLink)
        state += session.serialLink->IsOpen() ? " serial open" : " serial";
    if (session.usbLink)
        state += session.usbLink->IsOpen() ? " usb open" : " usb";
    return state;
}

// "COM" and a decimal number n from 1 is port n, anything else no port. A COM
// port is never opened here: it may reach a real serial line.
TEST(ChooseLink, ComAndADecimalNumberFromOneIsThatPort) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"com3", 3}, {"COM1", 1},  {"COM12", 12}, {"COM123456789", 123456789},
        {"COM0", 0}, {"COM01", 0}, {"COM1X", 0},  {"COM1234567890", 0},
        {"COMX", 0}, {"COM", 0}};
    for (const auto& [name, port] : cases) {
        SCOPED_TRACE(name);
        const LinkChoice choice = ChooseLink(name);
        EXPECT_EQ(choice.kind, LinkChoice::Kind::Serial);
        EXPECT_EQ(choice.port, port);
        EXPECT_EQ(choice.refusal != 0, port == 0);
        EXPECT_EQ(SerialLink::DeviceForPort(port), port == 0 ? "" : "/dev/ttyS" + std::to_string(port - 1));
    }
    // '[' lies between the upper- and lower-case letters: folding must not make it equal to '{'.
    EXPECT_NE(CompareIgnoringCase("[", "{"), 0);
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
    EXPECT_EQ(none.OpenSession()->LinkKind, DataConverter::kLinkUsb);
    EXPECT_EQ(none.opened, -1);
    EXPECT_EQ(none.driver.Calls().openIndices, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(none.status.lines(), Lines{"Error: cannot open Ixo Serial Device"});

    SimulatedBox box;  // index 0 will not open, 1 refuses the baud rate, 2 and 3 would do
    box.driver.Device(0).refuseOpen = true;
    box.driver.Device(box.driver.AddDevice()).refuseBaudRate = true;
    box.driver.AddDevice();
    box.driver.AddDevice();
    const auto session = box.OpenSession();
    EXPECT_EQ(box.opened, 0);
    EXPECT_EQ(box.driver.Calls().openIndices, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(box.driver.IsOpen(2));
}

}  // namespace
}  // namespace kestrel::testing
