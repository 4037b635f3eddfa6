#include "links/SerialLink.h"

#include <chrono>
#include <filesystem>
#include <numeric>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include "emulator/PseudoTerminal.h"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// How long `call` took, in milliseconds.
template <typename Call>
long long MsTaken(Call&& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// The test plays the box on the master side of a pseudo-terminal.
class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(line.Create()) << line.Error(); }

    bool OpenLink(std::uint32_t baud = 115200) { return link.Open(line.SlavePath(), baud, 0, 2, 8); }
    termios LineSettings() const {
        termios settings{};
        EXPECT_EQ(::tcgetattr(line.SlaveFd(), &settings), 0);
        return settings;
    }
    void BoxSends(const Bytes& bytes) {
        ASSERT_EQ(::write(line.MasterFd(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    emulator::PseudoTerminal line;
    SerialLink link;
};

// The rest of an open, as the real box sees it, is checked end to end:
// CliDownloadTest (115200 and 38400 baud, 8N2) and CliFaultMatrixTest (the line
// restored as found after every run, a port held by another program, /dev/null
// and a missing device refused with the system's reason).
TEST_F(SerialLinkTest, ARefusedOpenLeavesNothingOpenAndTheLineAsItWasAndAnOpenSetsARawLine) {
    // The pty starts raw; a real port is often left cooked by whoever used it last.
    termios cooked = LineSettings();
    cooked.c_lflag |= ICANON | ECHO;
    cooked.c_iflag |= ICRNL | IXON;
    cooked.c_oflag |= OPOST;
    cooked.c_cflag |= CRTSCTS;
    cfsetspeed(&cooked, B9600);
    ASSERT_EQ(::tcsetattr(line.SlaveFd(), TCSANOW, &cooked), 0);
    const auto descriptors = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    const auto before = descriptors();
    // A rate the line cannot take is refused after the device was opened.
    EXPECT_FALSE(OpenLink(12345));
    EXPECT_EQ(link.OpenError(), EINVAL);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(descriptors(), before);
    const termios untouched = LineSettings();
    EXPECT_EQ(cfgetospeed(&untouched), B9600);

    ASSERT_TRUE(OpenLink());
    const termios s = LineSettings();
    EXPECT_EQ(cfgetispeed(&s), B115200);
    EXPECT_EQ(s.c_cflag & (CSIZE | CSTOPB | PARENB | CRTSCTS | CLOCAL), static_cast<tcflag_t>(CS8 | CSTOPB | CLOCAL));
    EXPECT_EQ(s.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK), 0u);
    EXPECT_EQ(s.c_oflag & OPOST, 0u);
    EXPECT_EQ(s.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
}

// Every bound of the line, measured: 5 ms a byte and 10 ms more for a block
// either way (no byte interval runs before a first byte), cut short by a
// caller's cap. The sizes keep a doubled or dropped term apart from the right one.
TEST_F(SerialLinkTest, EveryByteValueArrivesUnchangedAndEveryWaitEndsAtItsBound) {
    BoxSends({0x2A, 0x01});  // before the open: not part of this exchange
    ASSERT_TRUE(OpenLink());
    Bytes all(256);
    std::iota(all.begin(), all.end(), 0);
    Bytes got(1024);
    BoxSends(all);
    EXPECT_EQ(link.Read(got.data(), 256), 256);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 256), all);

    // Each silent read's count and cap, and the least and most it may take.
    for (const auto& [count, capMs, minMs, maxMs] : std::vector<std::tuple<std::uint32_t, std::uint32_t, int, int>>{
             {1, UINT32_MAX, 15, 300}, {60, UINT32_MAX, 310, 500}, {1024, 100, 100, 400}}) {
        SCOPED_TRACE(::testing::Message() << count << " bytes, cap " << capMs);
        const long long ms = MsTaken([&] { EXPECT_EQ(link.Read(got.data(), count, capMs), 0); });
        EXPECT_GE(ms, minMs);
        EXPECT_LT(ms, maxMs);
    }
    BoxSends(Bytes(1024, 0x5A));  // a silence is no hang-up: the link still reads
    EXPECT_EQ(link.Read(got.data(), 1024, 100), 1024);

    ASSERT_EQ(::tcflow(line.SlaveFd(), TCOOFF), 0);  // output held, as by a stalled line
    const long long ms = MsTaken([&] { EXPECT_FALSE(link.Write(all.data(), 60)); });
    EXPECT_GE(ms, 310);
    EXPECT_LT(ms, 500);
    ASSERT_EQ(::tcflow(line.SlaveFd(), TCOON), 0);
    EXPECT_TRUE(link.Write(all.data(), 10));
}

// A hang-up ends a read at once: the fault matrix's rows, end to end.
TEST_F(SerialLinkTest, AReadEndsAtOnceWithItsCountOrHalfASecondAfterTheLastByte) {
    ASSERT_TRUE(OpenLink());
    std::jthread box([this] {
        BoxSends(Bytes(600, 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        BoxSends(Bytes(300, 2));
    });
    Bytes buffer(1000);
    EXPECT_LT(MsTaken([&] { EXPECT_EQ(link.Read(buffer.data(), 600), 600); }), 450) << "at once when all is there";
    // 300 more at about 100 ms, then silence: the read ends 500 ms after the last
    // byte, long before its 5010 ms allowance.
    const long long ms = MsTaken([&] { EXPECT_EQ(link.Read(buffer.data(), 1000), 300); });
    EXPECT_GE(ms, 500);
    EXPECT_LT(ms, 1000);
}

}  // namespace
}  // namespace kestrel
