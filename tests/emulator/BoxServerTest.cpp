#include "emulator/ServedBox.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "session/DownloadWorkflow.h"
#include "session/RecordingStatusList.h"
#include "support/TempDir.h"
#include "support/Text.h"

namespace kestrel::emulator {
namespace {

// A box that never ends its serving hangs up after this long, and the test fails instead of hanging.
constexpr std::uint32_t kGiveUpMs = 20000;

// A whole download by the tool's own workflow through the server's symbolic
// link, which is its own: it replaces neither another box's nor a user's file. A
// second opener during the erase (as root it passes the tool's exclusive lock)
// leaves the download alone: the box starts afresh only after the tool side has
// closed. The line settings the box reports and the images it saves are
// kestrel-flash's against kestrel-box (CliDownloadTest).
TEST(BoxServer, ServesADownloadThroughItsOwnLinkAndEndsAfterTheDownloadsAskedFor) {
    const testing::TempDir dir;
    const std::string linkPath = (dir.Path() / "box").string();
    const std::string userFile = dir.Write("mine.txt", std::string("mine"));
    auto box = std::make_unique<ServedBox>(
        BoxModel({.eraseMs = 800}),
        BoxServerOptions{.linkPath = linkPath, .stopAfterDownloads = 1, .giveUpAfterMs = kGiveUpMs});
    ASSERT_TRUE(box->Started()) << box->Error();
    for (const std::string& taken : {linkPath, userFile}) {
        BoxServer second(BoxModel(), {.linkPath = taken});
        EXPECT_TRUE(!second.Start() && second.Error() == EEXIST) << taken;
    }
    // A tool killed while it held the line exclusively leaves the flag on:
    // the box clears it once the tool side has closed, or the next open fails.
    const int killed = ::open(linkPath.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::ioctl(killed, TIOCEXCL), 0);
    ::close(killed);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int probe = ::open(linkPath.c_str(), O_RDWR | O_NOCTTY);
    int exclusive = -1;
    EXPECT_TRUE(::ioctl(probe, TIOCGEXCL, &exclusive) == 0 && exclusive == 0);
    ::close(probe);
    std::jthread intruder([&linkPath] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::close(::open(linkPath.c_str(), O_RDWR | O_NOCTTY));
    });
    RecordingStatusList status;
    const auto outcome =
        RunDownload(linkPath, KESTREL_SAMPLES_DIR "/kestrel-demo.mot", status, {.answerTimeoutMs = 3000});
    EXPECT_EQ(outcome, DownloadOutcome::Success);
    // The download asked for ends the serving, a box that miscounts it its give-up time.
    EXPECT_EQ(outcome == DownloadOutcome::Success ? box->Wait() : box->Stop(), 0);
    box.reset();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(linkPath)));
    EXPECT_EQ(testing::ReadFile(userFile), "mine");
}

}  // namespace
}  // namespace kestrel::emulator
