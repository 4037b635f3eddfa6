#include "emulator/ServedBox.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "base/UniqueFd.h"
#include "emulator/OpenerWatch.h"
#include "emulator/StableLink.h"
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
    SessionOptions options;
    options.answerTimeoutMs = 3000;
    const auto outcome = RunDownload(linkPath, KESTREL_SAMPLES_DIR "/kestrel-demo.mot", status, options);
    EXPECT_EQ(outcome, DownloadOutcome::Success);
    // The download asked for ends the serving, a box that miscounts it its give-up time.
    EXPECT_EQ(outcome == DownloadOutcome::Success ? box->Wait() : box->Stop(), 0);
    box.reset();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(linkPath)));
    EXPECT_EQ(testing::ReadFile(userFile), "mine");
}

// The server's link that survives hang-ups follows each new line while it is its own; a file someone put in its
// place is neither replaced nor removed.
TEST(StableLink, FollowsTheLineOnlyWhileItIsItsOwn) {
    const testing::TempDir dir;
    const auto path = dir.Path() / "box";
    std::optional<StableLink> link(path.string());
    ASSERT_TRUE(link->PointAt("/dev/pts/1") && link->PointAt("/dev/pts/2"));
    EXPECT_EQ(std::filesystem::read_symlink(path), "/dev/pts/2");
    link.reset();
    EXPECT_FALSE(std::filesystem::is_symlink(path));

    link.emplace(path.string());
    ASSERT_TRUE(link->PointAt("/dev/pts/1"));
    std::filesystem::remove(path);
    std::filesystem::create_symlink("/dev/pts/other", path);
    EXPECT_FALSE(link->PointAt("/dev/pts/2"));
    EXPECT_EQ(errno, EEXIST);
    link.reset();
    EXPECT_EQ(std::filesystem::read_symlink(path), "/dev/pts/other");
}

// The server counts the tool's openers: only an open while none is counted is a fresh one; the last close is told once.
TEST(OpenerWatch, CountsOpenersAndTellsAFreshOpenFromASecondOne) {
    const testing::TempDir dir;
    const std::string file = dir.Write("line", std::string());
    OpenerWatch watch;
    ASSERT_TRUE(watch.Watch(file));
    int lastCloses = 0;
    const auto take = [&] { return watch.TakeEvents([&lastCloses] { ++lastCloses; }); };
    UniqueFd first(::open(file.c_str(), O_RDONLY));
    EXPECT_TRUE(take());
    UniqueFd second(::open(file.c_str(), O_RDONLY));
    EXPECT_FALSE(take());
    first.Reset();
    EXPECT_TRUE(!take() && watch.Openers() == 1 && lastCloses == 0);
    second.Reset();
    EXPECT_TRUE(!take() && watch.Openers() == 0 && lastCloses == 1);
    first.Reset(::open(file.c_str(), O_RDONLY));
    EXPECT_TRUE(take());
}

}  // namespace
}  // namespace kestrel::emulator
