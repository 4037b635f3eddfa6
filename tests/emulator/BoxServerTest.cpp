#include "emulator/ServedBox.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "emulator/LinePacer.h"
#include "session/DownloadWorkflow.h"
#include "session/RecordingStatusList.h"
#include "support/TempDir.h"

namespace kestrel::emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A box that never ends its serving hangs up after this long, and the test fails instead of hanging.
constexpr std::uint32_t kGiveUpMs = 20000;

Bytes ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A whole download by the tool's own workflow through the server's symbolic
// link: the box sees the tool's line settings, saves the image it received, and
// ends after the one download asked for. Its link is its own: it replaces
// neither another box's nor a user's file. A second opener during the erase (as
// root it passes the tool's exclusive lock) leaves the download alone: the box
// starts afresh only after the tool side has closed. A binary image's 38400 baud
// is kestrel-flash's against kestrel-box (CliDownloadTest).
TEST(BoxServer, ServesADownloadAtTheToolsLineSettingsAndKeepsToItsOwnLink) {
    const testing::TempDir dir;
    const std::string linkPath = (dir.Path() / "box").string(), saved = (dir.Path() / "received-1.bin").string();
    const std::string userFile = dir.Write("mine.txt", std::string("mine"));
    std::vector<std::string> reports;
    auto box = std::make_unique<ServedBox>(
        BoxModel({.eraseMs = 800}),
        BoxServerOptions{.linkPath = linkPath,
                         .stopAfterDownloads = 1,
                         .saveImagePath = (dir.Path() / "received-%d.bin").string(),
                         .giveUpAfterMs = kGiveUpMs,
                         .report = [&](const std::string& text) { reports.push_back(text); }});
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
    const BoxServer& server = box->Server();

    // The first bytes came under the tool's settings; the last may come after
    // the tool's close restored the line's own.
    ASSERT_FALSE(server.SeenLineSettings().empty() || reports.empty());
    EXPECT_EQ(server.SeenLineSettings().front(),
              (LineSettings{.baudRate = 115200, .dataBits = 8, .parity = 'N', .stopBits = 2}));
    EXPECT_EQ(reports.front(), "line 115200 baud, 8N2");
    const Bytes& image = server.Model().LastImage();
    const std::string savedLine = "image of " + std::to_string(image.size()) + " bytes saved to " + saved;
    EXPECT_EQ(std::count(reports.begin(), reports.end(), savedLine), 1);
    EXPECT_EQ(ReadFile(saved), image);
    EXPECT_EQ(server.Model().LastVerdict(), 'S');
    box.reset();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(linkPath)));
    EXPECT_EQ(ReadFile(userFile), Bytes({'m', 'i', 'n', 'e'}));
}

TEST(LinePacer, BooksTheLineByteForByteAndSaysWhenItIsFreeAgain) {
    LinePacer pacer;
    EXPECT_EQ(pacer.Allowance(0, 5000), 5000u);  // unpaced: everything at once
    pacer.SetRate(1000);                         // a byte a millisecond
    EXPECT_EQ(pacer.Allowance(0, 5000), 5u);     // what fits into the next 5 ms
    pacer.Pass(0, 5);
    EXPECT_EQ(pacer.Allowance(0, 5000), 0u);
    EXPECT_EQ(pacer.WaitMs(0), 1);
    EXPECT_EQ(pacer.Allowance(1000, 5000), 1u);
    // An idle line does not save up: after a pause only the next 5 ms are open again.
    EXPECT_EQ(pacer.Allowance(60000, 5000), 5u);
}

}  // namespace
}  // namespace kestrel::emulator
