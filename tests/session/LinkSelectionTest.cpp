#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "emulator/PseudoTerminal.h"
#include "session/LinkNames.h"
#include "support/SimulatedBox.h"

// Which link a name selects, and what opening it leaves in the session.
namespace kestrel::testing {
namespace {

using Lines = std::vector<std::string>;
using Kind = LinkChoice::Kind;

TEST(ChooseLink, NamesSelectTheirLink) {
    struct Case {
        std::string name;
        Kind kind;
        int port;
        std::string device;
        bool refused;
    };
    const std::vector<Case> cases = {
        {"com3", Kind::Serial, 3, "", false},
        {"Com3", Kind::Serial, 3, "", false},
        {"COM1", Kind::Serial, 1, "", false},
        {"COM8", Kind::Serial, 8, "", false},
        {"COM12", Kind::Serial, 1, "", false},  // only the fourth character counts
        {"COM0", Kind::Serial, 0, "", true},
        {"COM9", Kind::Serial, 0, "", true},
        {"COMX", Kind::Serial, 0, "", true},
        {"COM", Kind::Serial, 0, "", true},
        {"usb", Kind::Usb, 0, "", false},
        {"Usb", Kind::Usb, 0, "", false},
        {"USB", Kind::Usb, 0, "", false},
        {"USB1", Kind::None, 0, "", true},
        {"LPT1", Kind::None, 0, "", true},
        {"", Kind::None, 0, "", true},
        {"/dev/ttyUSB0", Kind::Serial, 0, "/dev/ttyUSB0", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("name \"" + c.name + "\"");
        const LinkChoice choice = ChooseLink(c.name);
        EXPECT_EQ(choice.kind, c.kind);
        EXPECT_EQ(choice.port, c.port);
        EXPECT_EQ(choice.device, c.device);
        EXPECT_EQ(choice.refusal != 0, c.refused);
        if (c.kind == Kind::Serial && c.refused) {
            EXPECT_EQ(choice.refusal, 4);
        }
    }
}

TEST(CompareIgnoringCase, OrdersByBytesWithLettersFolded) {
    EXPECT_EQ(CompareIgnoringCase(".MOT", ".mot"), 0);
    EXPECT_EQ(CompareIgnoringCase(".bIn", ".BiN"), 0);
    EXPECT_LT(CompareIgnoringCase("LPT1", "USB"), 0);
    EXPECT_GT(CompareIgnoringCase("USB1", "USB"), 0);
    EXPECT_LT(CompareIgnoringCase("", "USB"), 0);
    // '[' lies between the upper- and lower-case letters: folding must not make it equal to '{'.
    EXPECT_NE(CompareIgnoringCase("[", "{"), 0);
}

struct Opened {
    int result;
    Lines lines;
    std::uint8_t linkKind;
    bool serialLink;
    bool serialOpen;
    bool usbLink;
    bool usbOpen;
};

Opened Open(SimulatedBox& box, const std::string& name) {
    auto session = std::make_unique<DataConverter>(box.status, box.Options());
    box.status.Clear();
    const int result = session->OpenInterface(name, 115200);
    return {result,
            box.status.lines(),
            session->LinkKind,
            session->serialLink != nullptr,
            session->serialLink != nullptr && session->serialLink->IsOpen(),
            session->usbLink != nullptr,
            session->usbLink != nullptr && session->usbLink->IsOpen()};
}

TEST(OpenInterface, EachNameGivesItsResultLinesAndLink) {
    emulator::PseudoTerminal line;
    ASSERT_TRUE(line.Create()) << line.Error();
    const Lines unknown = {"Error: unknown interface"};
    const Lines noPort = {"Error: cannot open comport"};
    struct Case {
        std::string name;
        int result;  // 99: any non-zero
        Lines lines;
        std::uint8_t linkKind;
        bool serialLink, serialOpen, usbLink, usbOpen;
    };
    const std::vector<Case> cases = {
        {"usb", 0, {}, 1, false, false, true, true},
        {"Usb", 0, {}, 1, false, false, true, true},
        {"COM0", 4, unknown, 2, true, false, false, false},
        {"COM9", 4, unknown, 2, true, false, false, false},
        {"COMX", 4, unknown, 2, true, false, false, false},
        {"COM", 4, unknown, 2, true, false, false, false},
        {"USB1", 99, unknown, 0, false, false, false, false},
        {"LPT1", 99, unknown, 0, false, false, false, false},
        {"", 99, unknown, 0, false, false, false, false},
        {line.SlavePath(), 0, {}, 2, true, true, false, false},
        {"/dev/kestrel-no-such-port", -1, noPort, 2, true, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("name \"" + c.name + "\"");
        SimulatedBox box;
        const Opened opened = Open(box, c.name);
        if (c.result == 99) {
            EXPECT_NE(opened.result, 0);
            EXPECT_NE(opened.result, 4);
        } else {
            EXPECT_EQ(opened.result, c.result);
        }
        EXPECT_EQ(opened.lines, c.lines);
        EXPECT_EQ(opened.linkKind, c.linkKind);
        EXPECT_EQ(opened.serialLink, c.serialLink);
        EXPECT_EQ(opened.serialOpen, c.serialOpen);
        EXPECT_EQ(opened.usbLink, c.usbLink);
        EXPECT_EQ(opened.usbOpen, c.usbOpen);
        EXPECT_FALSE(box.driver.IsOpen(box.slot)) << "ending the session closes the device";
    }
}

// The COM ports of this machine decide whether "COMn" opens; the name decides only which.
TEST(OpenInterface, ComNamesOpenThePortOfTheirFourthCharacter) {
    SimulatedBox box;
    const Opened first = Open(box, "COM1");
    const Opened twelve = Open(box, "COM12");
    EXPECT_EQ(twelve.result, first.result);
    EXPECT_EQ(twelve.lines, first.lines);
    EXPECT_EQ(twelve.linkKind, DataConverter::kLinkCom);

    if (std::filesystem::exists(SerialLink::DeviceForPort(3))) {
        GTEST_SKIP() << SerialLink::DeviceForPort(3) << " exists here";
    }
    for (const std::string name : {"com3", "Com3"}) {
        SCOPED_TRACE(name);
        const Opened absent = Open(box, name);
        EXPECT_EQ(absent.result, -1);
        EXPECT_EQ(absent.lines, (Lines{"Error: cannot open comport"}));
        EXPECT_EQ(absent.linkKind, DataConverter::kLinkCom);
        EXPECT_TRUE(absent.serialLink);
        EXPECT_FALSE(absent.serialOpen);
    }
}

TEST(OpenInterface, WithoutAUsbDeviceTriesTenIndicesThenReports) {
    ManualClock clock;
    emulator::SimulatedUsbDriver driver(clock);
    UsbLink::ForgetDeviceListing();
    RecordingStatusList status;
    SessionOptions options;
    options.usbDriver = &driver;
    options.clock = &clock;
    DataConverter session(status, options);
    EXPECT_EQ(session.OpenInterface("USB", 115200), -1);
    EXPECT_EQ(status.lines(), (Lines{"Error: cannot open Ixo Serial Device"}));
    EXPECT_EQ(driver.Calls().openIndices, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(session.LinkKind, DataConverter::kLinkUsb);
}

TEST(OpenInterface, TheLowestIndexThatTakesTheSettingsIsUsed) {
    ManualClock clock;
    emulator::SimulatedUsbDriver driver(clock);
    UsbLink::ForgetDeviceListing();
    emulator::SimulatedUsbDevice guarded;
    guarded.refuseOpen = true;
    driver.AddDevice(guarded);
    emulator::SimulatedUsbDevice picky;
    picky.refuseBaudRate = true;
    driver.AddDevice(picky);
    const auto good = driver.AddDevice();
    const auto spare = driver.AddDevice();
    RecordingStatusList status;
    SessionOptions options;
    options.usbDriver = &driver;
    options.clock = &clock;
    {
        DataConverter session(status, options);
        EXPECT_EQ(session.OpenInterface("USB", 115200), 0);
        EXPECT_EQ(driver.Calls().openIndices, (std::vector<int>{0, 1, 2}));
        EXPECT_TRUE(driver.IsOpen(good));
        EXPECT_FALSE(driver.IsOpen(1)) << "a device that refused the settings is released";
        EXPECT_FALSE(driver.IsOpen(spare));
    }
    EXPECT_FALSE(driver.IsOpen(good));
    EXPECT_TRUE(status.lines().empty());
}

// A name that selects nothing leaves the link of an earlier open as it was.
TEST(OpenInterface, ARefusedNameLeavesTheOpenLinkAlone) {
    SimulatedBox box;
    auto session = box.OpenSession();
    ASSERT_EQ(box.opened, 0);
    EXPECT_NE(session->OpenInterface("LPT1", 115200), 0);
    EXPECT_EQ(session->LinkKind, DataConverter::kLinkUsb);
    EXPECT_TRUE(box.driver.IsOpen(box.slot));
    EXPECT_EQ(session->serialLink, nullptr);
    EXPECT_EQ(box.status.lines(), (Lines{"Error: unknown interface"}));
}

}  // namespace
}  // namespace kestrel::testing
