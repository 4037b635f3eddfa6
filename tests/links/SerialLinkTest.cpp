#include "links/SerialLink.h"

#include <chrono>
#include <filesystem>
#include <numeric>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "emulator/PseudoTerminal.h"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Steady = std::chrono::steady_clock;

long long MsSince(Steady::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
}

// The test plays the box on the master side of a pseudo-terminal.
class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(line.Create()) << line.Error(); }

    bool OpenLink(std::uint32_t baud = 115200, std::uint8_t stopBits = 2, std::uint8_t byteSize = 8) {
        return link.Open(line.SlavePath(), baud, 0, stopBits, byteSize);
    }
    termios LineSettings() const {
        termios settings{};
        EXPECT_EQ(::tcgetattr(line.SlaveFd(), &settings), 0);
        return settings;
    }
    void BoxSends(const Bytes& bytes) {
        ASSERT_EQ(::write(line.MasterFd(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    Bytes BoxReceives(std::size_t expected) {
        Bytes got(expected);
        std::size_t have = 0;
        for (pollfd entry{line.MasterFd(), POLLIN, 0}; have<expected&& ::poll(&entry, 1, 1000)> 0;) {
            const ssize_t n = ::read(line.MasterFd(), got.data() + have, expected - have);
            have += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        got.resize(have);
        return got;
    }

    emulator::PseudoTerminal line;
    SerialLink link;
};

TEST_F(SerialLinkTest, OpensARawExclusiveLineAndCloseRestoresTheSettingsAsFound) {
    termios cooked = LineSettings();
    cooked.c_lflag |= ICANON | ECHO;
    cooked.c_iflag |= ICRNL | IXON;
    cfsetspeed(&cooked, B9600);
    ASSERT_EQ(::tcsetattr(line.SlaveFd(), TCSANOW, &cooked), 0);

    ASSERT_TRUE(OpenLink());
    EXPECT_EQ(link.OpenError(), 0);
    const termios s = LineSettings();
    EXPECT_EQ(cfgetospeed(&s), B115200);
    EXPECT_EQ(cfgetispeed(&s), B115200);
    EXPECT_EQ(s.c_cflag & (CSIZE | CSTOPB | PARENB | CRTSCTS | CLOCAL), static_cast<tcflag_t>(CS8 | CSTOPB | CLOCAL));
    EXPECT_EQ(s.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK), 0u);
    EXPECT_EQ(s.c_oflag & OPOST, 0u);
    EXPECT_EQ(s.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);

    SerialLink second;
    EXPECT_FALSE(second.Open(line.SlavePath(), 115200, 0, 2, 8));
    EXPECT_EQ(second.OpenError(), EBUSY);
    EXPECT_TRUE(link.IsOpen());
    link.Close();
    link.Close();
    const termios after = LineSettings();
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
    EXPECT_EQ(after.c_iflag & (ICRNL | IXON), static_cast<tcflag_t>(ICRNL | IXON));
    EXPECT_EQ(cfgetospeed(&after), B9600);

    ASSERT_TRUE(second.Open(line.SlavePath(), 38400, 0, 2, 8)) << "the port is free again";
    const termios slow = LineSettings();
    EXPECT_EQ(cfgetospeed(&slow), B38400);
}

TEST_F(SerialLinkTest, FailedOpensLeaveNothingOpenAndTheLineAsItWas) {
    const auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator{});
    };
    const auto before = descriptors();
    EXPECT_FALSE(link.Open("/dev/kestrel-no-such-port", 115200, 0, 2, 8));
    EXPECT_EQ(link.OpenError(), ENOENT);
    EXPECT_FALSE(link.Open("/dev/null", 115200, 0, 2, 8));
    EXPECT_EQ(link.OpenError(), ENOTTY);
    // What the line cannot take: an odd rate, nine data bits, one and a half stop bits.
    EXPECT_FALSE(OpenLink(12345));
    EXPECT_EQ(link.OpenError(), EINVAL);
    EXPECT_FALSE(OpenLink(115200, 2, 9));
    EXPECT_FALSE(OpenLink(115200, 1, 8));
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(descriptors(), before);
    const termios s = LineSettings();
    EXPECT_NE(cfgetospeed(&s), B115200);
}

TEST_F(SerialLinkTest, EveryByteValuePassesUnchangedAndAWriteTheLineDoesNotTakeFails) {
    BoxSends({0x2A, 0x01});  // before the open: not part of this exchange
    ASSERT_TRUE(OpenLink());
    Bytes all(256);
    std::iota(all.begin(), all.end(), 0);
    ASSERT_TRUE(link.Write(all.data(), 256));
    EXPECT_EQ(BoxReceives(256), all);
    BoxSends(all);
    Bytes got(256);
    EXPECT_EQ(link.Read(got.data(), 256), 256);
    EXPECT_EQ(got, all);
    EXPECT_TRUE(link.Write(all.data(), 0));
    EXPECT_EQ(link.Read(got.data(), 0), 0);

    ASSERT_EQ(::tcflow(line.SlaveFd(), TCOOFF), 0);  // output held, as by a stalled line
    const auto start = Steady::now();
    EXPECT_FALSE(link.Write(all.data(), 10));
    EXPECT_GE(MsSince(start), 60);  // its 5 x 10 + 10 ms allowance
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(link.IsBroken());
    ASSERT_EQ(::tcflow(line.SlaveFd(), TCOON), 0);
    EXPECT_TRUE(link.Write(all.data(), 10));
}

TEST_F(SerialLinkTest, ASilentLineEndsAReadAfterTheWholeAllowance) {
    ASSERT_TRUE(OpenLink());
    std::uint8_t buffer[20];
    for (const std::uint32_t count : {1u, 20u}) {  // 5 x count + 10 ms: no interval runs before a first byte
        const auto start = Steady::now();
        EXPECT_EQ(link.Read(buffer, count), 0);
        EXPECT_GE(MsSince(start), static_cast<long long>(5 * count + 10));
        EXPECT_LT(MsSince(start), 500);
    }
    EXPECT_FALSE(link.IsBroken());

    // A caller's own cap cuts the 5130 ms allowance of a large read short.
    const auto start = Steady::now();
    Bytes large(1024);
    EXPECT_EQ(link.Read(large.data(), 1024, 100), 0);
    EXPECT_GE(MsSince(start), 100);
    EXPECT_LT(MsSince(start), 2000);
    BoxSends(Bytes(1024, 0x5A));
    EXPECT_EQ(link.Read(large.data(), 1024, 100), 1024);
    EXPECT_EQ(large[1023], 0x5A);
}

TEST_F(SerialLinkTest, AReadCollectsPiecesUntilTheCountOrHalfASecondAfterTheLastByteAndAHangUpEndsIt) {
    ASSERT_TRUE(OpenLink());
    std::thread box([this] {
        for (std::uint8_t piece = 0; piece < 3; ++piece) {
            BoxSends(Bytes(300, piece));
            std::this_thread::sleep_for(std::chrono::milliseconds(piece == 2 ? 1200 : 50));
        }
        line.Close();
    });
    Bytes buffer(1000);
    auto start = Steady::now();
    EXPECT_EQ(link.Read(buffer.data(), 600), 600);  // at once when the count is there
    EXPECT_LT(MsSince(start), 450);
    EXPECT_EQ(buffer[599], 1);

    // 300 more at about 100 ms, then silence: the read ends 500 ms after the last
    // byte, long before its 5010 ms allowance.
    start = Steady::now();
    EXPECT_EQ(link.Read(buffer.data(), 1000), 300);
    EXPECT_GE(MsSince(start), 500);
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_EQ(buffer[299], 2);

    start = Steady::now();
    EXPECT_EQ(link.Read(buffer.data(), 1000), 0);
    EXPECT_LT(MsSince(start), 2000) << "the hang-up ends the wait, not the 5010 ms allowance";
    box.join();
    EXPECT_TRUE(link.IsBroken());
    EXPECT_FALSE(link.Write(buffer.data(), 1));
    EXPECT_EQ(link.Read(buffer.data(), 1), 0);
}

}  // namespace
}  // namespace kestrel
