#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "links/SerialLink.h"
#include "session/LinkNames.h"

namespace kestrel {
namespace {

// Ports above COM9 open only by their device name, so every port is named so.
TEST(SerialLinkWin32, PortsOpenByTheirDeviceNameAndThatNameSelectsTheDevice) {
    const struct {
        int port;
        const char* device;
    } rows[] = {{1, "\\\\.\\COM1"}, {12, "\\\\.\\COM12"}, {0, ""}, {-3, ""}};
    for (const auto& row : rows) {
        EXPECT_EQ(SerialLink::DeviceForPort(row.port), row.device) << row.port;
    }
    const LinkChoice choice = ChooseLink("\\\\.\\COM12");
    EXPECT_EQ(choice.kind, LinkChoice::Kind::Serial);
    EXPECT_EQ(choice.device, "\\\\.\\COM12");
    EXPECT_EQ(choice.refusal, 0);
}

// Settings the line cannot take are refused before any port is touched.
TEST(SerialLinkWin32, RefusesLineCodesAPortCannotTake) {
    const struct {
        std::uint32_t baudRate;
        std::uint8_t parity, stopBits, byteSize;
    } rows[] = {{115200, 5, 2, 8}, {115200, 0, 3, 8}, {115200, 0, 2, 9}, {115200, 0, 2, 4}, {0, 0, 2, 8}};
    for (const auto& row : rows) {
        SerialLink link;
        EXPECT_FALSE(link.Open("\\\\.\\COM41", row.baudRate, row.parity, row.stopBits, row.byteSize));
        EXPECT_EQ(link.OpenError(), EINVAL);
        EXPECT_FALSE(link.IsOpen());
    }
}

}  // namespace
}  // namespace kestrel
