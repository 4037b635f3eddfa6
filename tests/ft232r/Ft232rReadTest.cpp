// FtdiUsbDriver's queued reads of one box, in this process: ctest preloads the FT232R model in front of libusb.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "links/FtdiUsbDriver.h"
#include "support/TempDir.h"

namespace kestrel::testing {
namespace {

// Time that passes only as the driver looks at it, 5 ms a look: a wait that runs out its bound
// shows as the whole bound gone by, one that ends as bytes come as a few looks.
class LookingClock : public ManualClock {
public:
    std::uint32_t TickMs() override {
        Advance(5);
        return ManualClock::TickMs();
    }
};

// The box answers each sync request ('*') with its firmware type, 1: the counts tell the answers apart.
TEST(Ft232rRead, ThePurgeDropsWhatCameBeforeItAndAReadReturnsAsSoonAsItsBytesCame) {
    ::setenv("KESTREL_FT232R_BOXES", "KST-A", 1);  // read at the model's first call
    const TempDir root;                            // no tty of the box is held
    LookingClock clock;
    FtdiUsbDriver driver(root.Path().string(), clock);
    UsbHandle box = kNoUsbHandle;
    UsbOpenProblem problem = UsbOpenProblem::None;
    ASSERT_EQ(driver.Open(0, box, problem), 0);
    std::uint32_t count = 0, took = 0;
    const auto syncs = [&](std::uint32_t n) {
        const std::vector<std::uint8_t> bytes(n, '*');
        EXPECT_EQ(driver.Write(box, bytes.data(), n, count), 0);
    };
    const auto poll = [&] {
        const std::uint32_t before = clock.TickMs();
        EXPECT_EQ(driver.QueueStatus(box, count), 0);
        took = clock.TickMs() - before;
        return count;
    };

    syncs(3);
    for (int polls = 0; polls < 10 && poll() == 0; ++polls) {
    }
    EXPECT_EQ(count, 3u);
    EXPECT_LT(took, FtdiUsbDriver::kUsbReadTimeoutMs) << "the poll waited out its bound after its bytes came";
    syncs(2);  // on their way when the purge comes
    EXPECT_EQ(driver.PrepareForSync(box), 0);
    EXPECT_EQ(poll(), 0u);

    syncs(2);
    std::vector<std::uint8_t> answer(3);
    const std::uint32_t before = clock.TickMs();
    EXPECT_EQ(driver.Read(box, answer.data(), 2, count, 100), 0);
    EXPECT_LT(clock.TickMs() - before, 100u) << "the read waited out its time-out after its bytes came";
    EXPECT_EQ(answer, std::vector<std::uint8_t>({1, 1, 0}));
    EXPECT_EQ(poll(), 0u);
    EXPECT_EQ(driver.Close(box), 0);
}

}  // namespace
}  // namespace kestrel::testing
