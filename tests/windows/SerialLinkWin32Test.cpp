#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <tuple>
#include <utility>

#include "links/SerialLink.h"
#include "links/SerialPortList.h"

namespace kestrel {
namespace {

// Ports above COM9 open only by their device name, so every port is named so;
// the listing names ports "COM12", the link opens "\\.\COM12": one port.
TEST(SerialLinkWin32, PortsOpenByTheirDeviceNameAndThatNameSelectsTheDevice) {
    const std::pair<int, std::string> devices[] = {{1, "\\\\.\\COM1"}, {12, "\\\\.\\COM12"}, {0, ""}, {-3, ""}};
    for (const auto& [port, device] : devices)
        EXPECT_EQ(SerialLink::DeviceForPort(port), device) << port;
    const std::tuple<std::string, std::string, bool> names[] = {
        {"COM12", "\\\\.\\COM12", true}, {"com12", "COM12", true}, {"COM1", "COM12", false}, {"", "", false}};
    for (const auto& [a, b, same] : names)
        EXPECT_EQ(SameSerialDevice(a, b), same) << a << " " << b;
}

// Settings the line cannot take are refused before any device is opened (the
// name is of no device at all, which would fail differently).
TEST(SerialLinkWin32, RefusesLineCodesAPortCannotTake) {
    const struct {
        std::uint32_t baudRate;
        std::uint8_t parity, stopBits, byteSize;
    } rows[] = {{115200, 5, 2, 8}, {115200, 0, 3, 8}, {115200, 0, 2, 9}, {115200, 0, 2, 4}, {0, 0, 2, 8}};
    for (const auto& row : rows) {
        SerialLink link;
        EXPECT_FALSE(link.Open("\\\\.\\KestrelNoSuchPort", row.baudRate, row.parity, row.stopBits, row.byteSize));
        EXPECT_EQ(link.OpenError(), EINVAL);
    }
}

}  // namespace
}  // namespace kestrel
