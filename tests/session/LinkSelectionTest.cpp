#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/PseudoTerminal.h"
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

TEST(OpenInterface, EachNameGivesItsPortResultLinesAndLink) {
    emulator::PseudoTerminal line;
    ASSERT_TRUE(line.Create()) << line.Error();
    const Lines unknown = {"Error: unknown interface"};
    constexpr int kAnyRefusal = 99;  // non-zero, and not the refusal of a bad COM number
    struct Case {
        std::string name;
        int port;  // a COM port is never opened here: it may reach a real serial line
        int result;
        Lines lines;
        std::string link;
    };
    const std::vector<Case> cases = {
        {"com3", 3, 0, {}, ""},
        {"Com3", 3, 0, {}, ""},
        {"COM1", 1, 0, {}, ""},
        {"COM9", 9, 0, {}, ""},
        {"COM12", 12, 0, {}, ""},
        {"COM123456789", 123456789, 0, {}, ""},
        {"COM0", 0, 4, unknown, "2 serial"},
        {"COM01", 0, 4, unknown, "2 serial"},
        {"COM1X", 0, 4, unknown, "2 serial"},
        {"COM1234567890", 0, 4, unknown, "2 serial"},
        {"COMX", 0, 4, unknown, "2 serial"},
        {"COM", 0, 4, unknown, "2 serial"},
        {"usb", 0, 0, {}, "1 usb open"},
        {"USB", 0, 0, {}, "1 usb open"},
        {"USB1", 0, kAnyRefusal, unknown, "0"},
        {"LPT1", 0, kAnyRefusal, unknown, "0"},
        {"", 0, kAnyRefusal, unknown, "0"},
        {line.SlavePath(), 0, 0, {}, "2 serial open"},
        {"/dev/kestrel-no-such-port", 0, -1, {"Error: cannot open comport"}, "2 serial"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("name \"" + c.name + "\"");
        const LinkChoice choice = ChooseLink(c.name);
        EXPECT_EQ(choice.port, c.port);
        if (choice.port != 0) {  // whatever the row says: never opened
            EXPECT_EQ(choice.kind, LinkChoice::Kind::Serial);
            EXPECT_EQ(SerialLink::DeviceForPort(choice.port), "/dev/ttyS" + std::to_string(c.port - 1));
            continue;
        }
        SimulatedBox box;
        {
            DataConverter session(box.status, box.Options());
            const int result = session.OpenInterface(c.name, 115200);
            if (c.result == kAnyRefusal) {
                EXPECT_TRUE(result != 0 && result != 4) << result;
            } else {
                EXPECT_EQ(result, c.result);
            }
            EXPECT_EQ(box.status.lines(), c.lines);
            EXPECT_EQ(LinkState(session), c.link);
        }
        EXPECT_FALSE(box.driver.IsOpen(box.slot)) << "ending the session closes the device";
    }
    // '[' lies between the upper- and lower-case letters: folding must not make it equal to '{'.
    EXPECT_NE(CompareIgnoringCase("[", "{"), 0);
}

TEST(OpenInterface, UsbTakesTheLowestOfTenIndicesThatAcceptsTheSettings) {
    for (const bool plugged : {false, true}) {
        SCOPED_TRACE(plugged ? "devices plugged" : "no device");
        SimulatedBox box;
        auto& driver = box.driver;
        driver.Device(0).present = plugged;
        if (plugged) {
            driver.Device(0).refuseOpen = true;
            driver.Device(driver.AddDevice()).refuseBaudRate = true;
            driver.AddDevice();
            driver.AddDevice();
        }
        {
            auto session = box.OpenSession();
            EXPECT_EQ(box.opened, plugged ? 0 : -1);
            EXPECT_EQ(driver.Calls().openIndices,
                      (plugged ? std::vector<int>{0, 1, 2} : std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
            EXPECT_EQ(LinkState(*session), plugged ? "1 usb open" : "1 usb");
            EXPECT_EQ(box.status.lines(), (plugged ? Lines{} : Lines{"Error: cannot open Ixo Serial Device"}));
            if (plugged) {
                EXPECT_FALSE(driver.IsOpen(1)) << "a device that refused the settings is released";
                EXPECT_TRUE(driver.IsOpen(2));
                EXPECT_FALSE(driver.IsOpen(3));
            }
        }
        EXPECT_FALSE(plugged && driver.IsOpen(2)) << "ending the session closes the device";
    }
}

// A name that selects nothing leaves the link of an earlier open as it was.
TEST(OpenInterface, ARefusedNameLeavesTheOpenLinkAlone) {
    SimulatedBox box;
    auto session = box.OpenSession();
    ASSERT_EQ(box.opened, 0);
    EXPECT_NE(session->OpenInterface("LPT1", 115200), 0);
    EXPECT_EQ(LinkState(*session), "1 usb open");
    EXPECT_TRUE(box.driver.IsOpen(box.slot));
    EXPECT_EQ(box.status.lines(), Lines{"Error: unknown interface"});
}

}  // namespace
}  // namespace kestrel::testing
