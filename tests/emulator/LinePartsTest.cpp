// The box server's link that survives hang-ups and its count of the tool's openers.
#include <fcntl.h>
#include <cerrno>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "base/UniqueFd.h"
#include "emulator/OpenerWatch.h"
#include "emulator/StableLink.h"
#include "support/TempDir.h"

namespace kestrel::emulator {
namespace {

// A file someone put in its place is neither replaced nor removed. Following
// each new line after a hang-up is the fault matrix's (its hang-up rows open
// the link again), removing its own at the end BoxServerTest's.
TEST(StableLink, AFileSomeonePutInItsPlaceIsNeitherReplacedNorRemoved) {
    const testing::TempDir dir;
    const auto path = dir.Path() / "box";
    std::optional<StableLink> link(path.string());
    ASSERT_TRUE(link->PointAt("/dev/pts/1"));
    std::filesystem::remove(path);
    std::filesystem::create_symlink("/dev/pts/other", path);
    EXPECT_FALSE(link->PointAt("/dev/pts/2"));
    EXPECT_EQ(errno, EEXIST);
    link.reset();
    EXPECT_EQ(std::filesystem::read_symlink(path), "/dev/pts/other");
}

// Only an open while none is counted is a fresh one; the last close is told once.
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
