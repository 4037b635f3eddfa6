// Which link a name selects.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/TextCase.h"
#include "links/SerialLink.h"
#include "session/LinkNames.h"

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

}  // namespace
}  // namespace kestrel::testing
