// FtdiUsbDriver's queued reads of one box, in this process: ctest preloads the FT232R model in front of libusb.
#include <gtest/gtest.h>

#include <cstdlib>

#include <cstdint>
#include <vector>

#include "links/FtdiUsbDriver.h"
#include "support/TempDir.h"

namespace kestrel::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Time that passes only as the driver looks at it, 5 ms a look: a wait that runs out its bound
// shows as the whole bound gone by, one that ends as bytes come as a few looks.
class LookingClock : public ManualClock {
public:
    std::uint32_t TickMs() override {
        Advance(5);
        return ManualClock::TickMs();
    }
};

struct OpenBox {
    OpenBox() {
        ::setenv("KESTREL_FT232R_BOXES", "KST-A", 1);  // read at the model's first call
        UsbOpenProblem problem = UsbOpenProblem::None;
        EXPECT_EQ(driver.Open(0, handle, problem), 0);
        EXPECT_EQ(driver.SetBaudRate(handle, 115200), 0);
    }
    ~OpenBox() { driver.Close(handle); }

    void Send(const Bytes& bytes) {
        std::uint32_t written = 0;
        EXPECT_EQ(driver.Write(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()), written), 0);
    }
    // Polls as the link does until `count` bytes wait, each poll that finds bytes returning before its bound;
    // a queue that brings nothing ends the polls after 200 ms of the clock. What waits then.
    std::uint32_t PollFor(std::uint32_t count) {
        std::uint32_t waiting = 0;
        for (const std::uint32_t start = clock.TickMs(); waiting < count && clock.TickMs() - start < 200;) {
            const std::uint32_t before = clock.TickMs();
            EXPECT_EQ(driver.QueueStatus(handle, waiting), 0);
            EXPECT_TRUE(waiting == 0 || clock.TickMs() - before < FtdiUsbDriver::kUsbReadTimeoutMs)
                << "a poll waited out its bound though bytes had come";
        }
        return waiting;
    }

    TempDir root;  // no tty of the box is held
    LookingClock clock;
    FtdiUsbDriver driver{root.Path().string(), clock};
    UsbHandle handle = kNoUsbHandle;
};

// Each sync request ('*') the box answers with its firmware type, 1: counts of them tell the answers apart.
TEST(Ft232rRead, ThePurgeDropsWhatCameBeforeItAndAReadReturnsAsSoonAsItsBytesCame) {
    OpenBox box;
    box.Send({'*', '*', '*'});
    EXPECT_EQ(box.PollFor(3), 3u);
    box.Send({'*', '*'});  // on its way when the purge comes
    EXPECT_EQ(box.driver.PrepareForSync(box.handle), 0);
    std::uint32_t waiting = 99;
    EXPECT_EQ(box.driver.QueueStatus(box.handle, waiting), 0);
    EXPECT_EQ(waiting, 0u);

    box.Send({'*', '*'});
    Bytes answer(2);
    std::uint32_t received = 0;
    const std::uint32_t before = box.clock.TickMs();
    EXPECT_EQ(box.driver.Read(box.handle, answer.data(), 2, received, 100), 0);
    EXPECT_LT(box.clock.TickMs() - before, 100u) << "the read waited out its time-out after its bytes came";
    EXPECT_EQ(received, 2u);
    EXPECT_EQ(answer, Bytes({1, 1}));
    EXPECT_EQ(box.driver.QueueStatus(box.handle, waiting), 0);
    EXPECT_EQ(waiting, 0u);
}

}  // namespace
}  // namespace kestrel::testing
