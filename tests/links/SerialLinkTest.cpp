#include "links/SerialLink.h"

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "emulator/PseudoTerminal.h"

namespace kestrel {
namespace {

using Steady = std::chrono::steady_clock;

long long MsSince(Steady::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
}

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                  std::filesystem::directory_iterator{}));
}

// The far end of the line: the test plays the box on the master side.
class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(line.Create()) << line.Error(); }

    bool OpenLink(std::uint32_t baud = 115200) { return link.Open(line.SlavePath(), baud, 0, 2, 8); }

    termios LineSettings() const {
        termios settings{};
        EXPECT_EQ(::tcgetattr(line.SlaveFd(), &settings), 0);
        return settings;
    }

    void BoxSends(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(::write(line.MasterFd(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    std::vector<std::uint8_t> BoxReceives(std::size_t expected) {
        std::vector<std::uint8_t> got;
        std::uint8_t buffer[4096];
        while (got.size() < expected) {
            pollfd entry{line.MasterFd(), POLLIN, 0};
            if (::poll(&entry, 1, 1000) <= 0) {
                break;
            }
            const ssize_t n = ::read(line.MasterFd(), buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    emulator::PseudoTerminal line;
    SerialLink link;
};

TEST(SerialLinkPorts, PortNumbersNameTheSystemsSerialDevices) {
    EXPECT_EQ(SerialLink::DeviceForPort(1), "/dev/ttyS0");
    EXPECT_EQ(SerialLink::DeviceForPort(8), "/dev/ttyS7");
    EXPECT_EQ(SerialLink::DeviceForPort(0), "");

    SerialLink link;
    EXPECT_FALSE(link.Open(0, 115200, 0, 2, 8));
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(SerialLinkTest, OpensWithTheBoxsLineSettings) {
    ASSERT_TRUE(OpenLink());
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(link.OpenError(), 0);

    const termios s = LineSettings();
    EXPECT_EQ(cfgetospeed(&s), B115200);
    EXPECT_EQ(cfgetispeed(&s), B115200);
    EXPECT_EQ(s.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_NE(s.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(s.c_cflag & PARENB, 0u);
    EXPECT_EQ(s.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(s.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK), 0u);
    EXPECT_EQ(s.c_oflag & OPOST, 0u);
    EXPECT_EQ(s.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);

    link.Close();
    ASSERT_TRUE(OpenLink(38400));
    const termios slow = LineSettings();
    EXPECT_EQ(cfgetospeed(&slow), B38400);
}

TEST_F(SerialLinkTest, CloseRestoresTheSettingsAsFoundAndIsHarmlessWhenClosed) {
    SerialLink neverOpened;
    neverOpened.Close();

    termios cooked = LineSettings();
    cooked.c_lflag |= ICANON | ECHO;
    cooked.c_iflag |= ICRNL | IXON;
    cfsetspeed(&cooked, B9600);
    ASSERT_EQ(::tcsetattr(line.SlaveFd(), TCSANOW, &cooked), 0);

    ASSERT_TRUE(OpenLink());
    link.Close();
    link.Close();
    EXPECT_FALSE(link.IsOpen());

    const termios after = LineSettings();
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
    EXPECT_EQ(after.c_iflag & (ICRNL | IXON), static_cast<tcflag_t>(ICRNL | IXON));
    EXPECT_EQ(cfgetospeed(&after), B9600);
}

TEST_F(SerialLinkTest, FailedOpensLeaveNothingOpen) {
    const std::size_t before = OpenDescriptors();

    EXPECT_FALSE(link.Open("/dev/kestrel-no-such-port", 115200, 0, 2, 8));
    EXPECT_EQ(link.OpenError(), ENOENT);
    EXPECT_FALSE(link.Open("/dev/null", 115200, 0, 2, 8));
    EXPECT_EQ(link.OpenError(), ENOTTY);
    // Settings the line cannot take: an odd rate, nine data bits, one and a half stop bits.
    EXPECT_FALSE(OpenLink(12345));
    EXPECT_EQ(link.OpenError(), EINVAL);
    EXPECT_FALSE(link.Open(line.SlavePath(), 115200, 0, 2, 9));
    EXPECT_FALSE(link.Open(line.SlavePath(), 115200, 0, 1, 8));
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(OpenDescriptors(), before);

    // A refused open leaves the line as it was.
    const termios s = LineSettings();
    EXPECT_NE(cfgetospeed(&s), B115200);
}

TEST_F(SerialLinkTest, APortHeldByAnotherOpenerIsRefusedUntilReleased) {
    ASSERT_TRUE(OpenLink());
    SerialLink second;
    EXPECT_FALSE(second.Open(line.SlavePath(), 115200, 0, 2, 8));
    EXPECT_EQ(second.OpenError(), EBUSY);
    EXPECT_TRUE(link.IsOpen());

    link.Close();
    EXPECT_TRUE(second.Open(line.SlavePath(), 115200, 0, 2, 8));
}

TEST_F(SerialLinkTest, EveryByteValuePassesUnchangedBothWays) {
    ASSERT_TRUE(OpenLink());
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    ASSERT_TRUE(link.Write(all.data(), static_cast<std::uint32_t>(all.size())));
    EXPECT_EQ(BoxReceives(all.size()), all);

    BoxSends(all);
    std::vector<std::uint8_t> got(256);
    EXPECT_EQ(link.Read(got.data(), 256), 256);
    EXPECT_EQ(got, all);

    EXPECT_TRUE(link.Write(all.data(), 0));
    EXPECT_EQ(link.Read(got.data(), 0), 0);
}

TEST_F(SerialLinkTest, WhatArrivedBeforeTheOpenIsDropped) {
    BoxSends({0x2A, 0x01});
    ASSERT_TRUE(OpenLink());
    std::uint8_t byte = 0;
    EXPECT_EQ(link.Read(&byte, 1), 0);
}

TEST_F(SerialLinkTest, ASilentLineEndsAReadAfterTheWholeAllowance) {
    ASSERT_TRUE(OpenLink());
    std::uint8_t buffer[20];

    auto start = Steady::now();
    EXPECT_EQ(link.Read(buffer, 1), 0);
    const auto oneByte = MsSince(start);
    EXPECT_GE(oneByte, 15);
    EXPECT_LT(oneByte, 500);

    start = Steady::now();
    EXPECT_EQ(link.Read(buffer, 20), 0);  // 5 x 20 + 10 ms: no interval runs before a first byte
    EXPECT_GE(MsSince(start), 110);
    EXPECT_FALSE(link.IsBroken());
}

TEST_F(SerialLinkTest, AReadCollectsBytesArrivingInPiecesAndEndsHalfASecondAfterTheLast) {
    ASSERT_TRUE(OpenLink());
    std::thread box([this] {
        for (int piece = 0; piece < 3; ++piece) {
            BoxSends(std::vector<std::uint8_t>(100, static_cast<std::uint8_t>(piece)));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    std::vector<std::uint8_t> buffer(1000);
    const auto start = Steady::now();
    const std::int32_t got = link.Read(buffer.data(), 1000);
    const auto took = MsSince(start);
    box.join();

    EXPECT_EQ(got, 300);
    EXPECT_EQ(buffer[299], 2);
    // The last piece came at about 100 ms; then 500 ms without a byte. The
    // allowance for 1000 bytes, 5010 ms, is far from reached.
    EXPECT_GE(took, 600);
    EXPECT_LT(took, 3000);
}

TEST_F(SerialLinkTest, AReadReturnsAtOnceWhenTheCountIsThere) {
    ASSERT_TRUE(OpenLink());
    std::thread box([this] {
        BoxSends(std::vector<std::uint8_t>(600, 0x55));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        BoxSends(std::vector<std::uint8_t>(400, 0xAA));
    });
    std::vector<std::uint8_t> buffer(1000);
    const auto start = Steady::now();
    EXPECT_EQ(link.Read(buffer.data(), 1000), 1000);
    EXPECT_LT(MsSince(start), 450);
    box.join();
    EXPECT_EQ(buffer[999], 0xAA);
}

TEST_F(SerialLinkTest, AWriteTheLineDoesNotTakeFailsWithinItsAllowance) {
    ASSERT_TRUE(OpenLink());
    ASSERT_EQ(::tcflow(line.SlaveFd(), TCOOFF), 0);  // output held, as by a stalled line
    const std::uint8_t block[10] = {};
    const auto start = Steady::now();
    EXPECT_FALSE(link.Write(block, sizeof block));
    const auto took = MsSince(start);
    EXPECT_GE(took, 60);
    EXPECT_LT(took, 1000);
    EXPECT_FALSE(link.IsBroken());

    ASSERT_EQ(::tcflow(line.SlaveFd(), TCOON), 0);
    EXPECT_TRUE(link.Write(block, sizeof block));
}

TEST_F(SerialLinkTest, AHangUpBreaksTheLinkAndEndsWaitsAtOnce) {
    ASSERT_TRUE(OpenLink());
    std::thread box([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        line.Close();
    });
    std::vector<std::uint8_t> buffer(1000);
    const auto start = Steady::now();
    EXPECT_EQ(link.Read(buffer.data(), 1000), 0);
    EXPECT_LT(MsSince(start), 2000);  // not the 5010 ms allowance
    box.join();

    EXPECT_TRUE(link.IsBroken());
    EXPECT_FALSE(link.Write(buffer.data(), 1));
    EXPECT_EQ(link.Read(buffer.data(), 1), 0);
    link.Close();
    EXPECT_FALSE(link.IsOpen());
}

}  // namespace
}  // namespace kestrel
