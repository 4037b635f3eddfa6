// The advice after a refused open, on a POSIX system, where a device has an
// owning group.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include <gtest/gtest.h>

#include "session/DataConverter.h"
#include "session/RecordingStatusList.h"
#include "station/OpenFailureHint.h"
#include "support/TempDir.h"

namespace kestrel::testing {
namespace {

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
    for (const bool installed : {false, true})
        for (const bool atSeat : {false, true}) {
            const std::string hint = UsbAccessDeniedHint({installed ? rule : "", atSeat});
            SCOPED_TRACE(hint);
            EXPECT_EQ(hint.find("is not installed") == std::string::npos, installed);
            EXPECT_EQ(hint.find(rule) != std::string::npos, installed);
            EXPECT_EQ(hint.find("usermod -aG plugdev $USER") == std::string::npos, atSeat);
            EXPECT_NE(hint.find("plug the box in again"), std::string::npos);
        }
}

// The reason is the open's own: a path that exists but is no serial port (a
// regular file fails the same way) is told so, not taken for a port in use.
TEST(OpenFailureHint, APathThatIsNoSerialPortIsToldSoFromTheOpensErrno) {
    RecordingStatusList status;
    std::optional<OpenFailure> failure;
    const SessionOptions options{.openFailed = [&failure](const OpenFailure& reported) { failure = reported; }};
    EXPECT_EQ(DataConverter(status, options).OpenInterface("/dev/null", 115200), DataConverter::kInterfaceOpenFailed);
    ASSERT_TRUE(failure);
    EXPECT_EQ(DescribeOpenFailure(FactsOf(*failure), true), "/dev/null: not a serial port");
}

}  // namespace
}  // namespace kestrel::testing
