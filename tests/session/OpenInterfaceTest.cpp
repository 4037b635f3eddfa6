// Which link a name selects, and the link a session opens by its name and what opening it leaves in the session: a USB
// box by "USB:N" (index) or "USB:SERIAL" (the chip's serial number), never falling back to another box, the reason
// of each open that fails, and the advice after it.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <optional>
#include <thread>
#include <tuple>

#include "base/TextCase.h"
#include "emulator/SimulatedUsbDriver.h"
#include "links/SerialLink.h"
#include "session/DataConverter.h"
#include "session/LinkNames.h"
#include "session/RecordingStatusList.h"
#include "station/OpenFailureHint.h"
#include "support/SimulatedBox.h"
#include "support/TempDir.h"
#include "support/Text.h"

namespace kestrel::testing {
namespace {

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
// another session opens a box on another thread; a plain "USB" keeps the reason
// of the box that refused past the indices where there is none.
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
            SessionOptions options;
            options.usbDriver = &driver;
            options.openFailed = [&failure](const OpenFailure& reported) { failure = reported; };
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
    driver.SetPresent(1, false);
    openMany("USB", UsbOpenProblem::AccessDenied, wrongDenied);
    EXPECT_EQ(wrongDenied, 0);
    UsbLink::ForgetDeviceListing();
}

// The advice after a refused open, on a POSIX system, where a device has an
// owning group.
OpenFailure Serial(const std::string& device, int error) {
    return {.target = OpenFailure::Target::SerialPort, .name = device, .error = error};
}

// A refused open gets advice that fits this machine: the serial device's own
// group, and for USB whether the rule is installed and whether the session has a seat.
TEST(OpenFailureHint, NamesTheDevicesGroupAndWhatTheUsbRuleNeedsHere) {
    TempDir dir;
    const std::string device = dir.Write("tty", std::string());
    // Where the test may (as root), a group that is not the owner's: the name
    // must come from the group, not the user.
    [[maybe_unused]] const int chowned = ::chown(device.c_str(), static_cast<uid_t>(-1), 5);
    struct stat status {};
    ASSERT_EQ(::stat(device.c_str(), &status), 0);
    const std::string group = ::getgrgid(status.st_gid)->gr_name;
    const std::string advice = SerialPermissionHint(device, group);
    EXPECT_EQ(DescribeOpenFailure(FactsOf(Serial(device, EACCES)), true), device + ": Permission denied; " + advice);
    // The command line said the system's reason on a line of its own.
    EXPECT_EQ(DescribeOpenFailure(FactsOf(Serial(device, EACCES)), false), advice);
    EXPECT_EQ(SerialPermissionHint("/dev/ttyUSB0", "dialout"),
              "/dev/ttyUSB0 belongs to the group dialout: add yourself to it with sudo usermod -aG dialout $USER, "
              "then log in again");
    EXPECT_EQ(SerialPermissionHint("/dev/ttyS0", "root").find("usermod"), std::string::npos);
    EXPECT_EQ(DescribeOpenFailure(FactsOf(Serial(device, EBUSY)), true),
              device + ": in use by another program, or this user may not open it");

    // Only a missing driver leaves the box's COM port, which each front end names in its own words.
    for (const auto problem : {UsbOpenProblem::NoDriver, UsbOpenProblem::NoDevice})
        EXPECT_EQ(FactsOf({.target = OpenFailure::Target::Usb, .name = "USB", .usbProblem = problem}).driverMissing,
                  problem == UsbOpenProblem::NoDriver);

    EXPECT_EQ(FindUdevRule({(dir.Path() / "etc").string(), dir.Path().string()}), "");
    const std::string rule = dir.Write("60-kestrel.rules", std::string());
    EXPECT_EQ(FindUdevRule({(dir.Path() / "etc").string(), dir.Path().string()}), rule);
    for (const bool installed : {false, true}) {
        for (const bool atSeat : {false, true}) {
            const std::string hint = UsbAccessDeniedHint({installed ? rule : "", atSeat});
            SCOPED_TRACE(hint);
            EXPECT_EQ(hint.find("is not installed") == std::string::npos, installed);
            EXPECT_EQ(hint.find(rule) != std::string::npos, installed);
            EXPECT_EQ(hint.find("usermod -aG plugdev $USER") == std::string::npos, atSeat);
            EXPECT_NE(hint.find("plug the box in again"), std::string::npos);
        }
    }
}

// The reason is the open's own: a path that exists but is no serial port (a
// regular file fails the same way) is told so, not taken for a port in use.
TEST(OpenFailureHint, APathThatIsNoSerialPortIsToldSoFromTheOpensErrno) {
    RecordingStatusList status;
    std::optional<OpenFailure> failure;
    SessionOptions options;
    options.openFailed = [&failure](const OpenFailure& reported) { failure = reported; };
    EXPECT_EQ(DataConverter(status, options).OpenInterface("/dev/null", 115200), DataConverter::kInterfaceOpenFailed);
    ASSERT_TRUE(failure);
    EXPECT_EQ(DescribeOpenFailure(FactsOf(*failure), true), "/dev/null: not a serial port");
}

}  // namespace
}  // namespace kestrel::testing
