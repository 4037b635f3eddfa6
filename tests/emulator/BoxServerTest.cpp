#include "emulator/BoxServer.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "emulator/LinePacer.h"
#include "links/SerialLink.h"
#include "session/DownloadWorkflow.h"
#include "session/RecordingStatusList.h"

namespace kestrel::emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A server serving on its own thread for the length of a test.
struct RunningBox {
    explicit RunningBox(BoxBehaviour behaviour, BoxServerOptions options = {})
        : server(BoxModel(std::move(behaviour)), std::move(options)), started(server.Start()) {
        if (started) {
            thread = std::thread([this] { result = server.Run(); });
        }
    }
    ~RunningBox() {
        server.Stop();
        Join();
    }
    void Join() {
        if (thread.joinable()) {
            thread.join();
        }
    }

    BoxServer server;
    bool started;
    std::thread thread;
    int result = -1;
};

// As the tool waits for an answer: one-byte reads until a byte came or `boundMs` passed.
int ReceiveByte(SerialLink& link, int boundMs = 2000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    std::uint8_t byte = 0;
    while (std::chrono::steady_clock::now() < end && !link.IsBroken()) {
        if (link.Read(&byte, 1) == 1) {
            return byte;
        }
    }
    return -1;
}

// Sends `out`, then collects `expected` answer bytes, each within a generous bound.
Bytes Exchange(SerialLink& link, const Bytes& out, std::size_t expected) {
    if (!out.empty()) {
        EXPECT_TRUE(link.Write(out.data(), static_cast<std::uint32_t>(out.size())));
    }
    Bytes in;
    for (int byte = 0; in.size() < expected && (byte = ReceiveByte(link)) >= 0;) {
        in.push_back(static_cast<std::uint8_t>(byte));
    }
    return in;
}

const Bytes kLengthBlock = {0x00, 0xFF, 0x02, 0xFD, 0x00, 0xFF, 0x00, 0xFF};

TEST(BoxServer, ServesADownloadThroughItsSymbolicLinkAndEndsAfterTheAskedCount) {
    const std::string linkPath = "/tmp/kestrel-box-test-" + std::to_string(::getpid());
    Bytes image(0x20006, 0xFF);
    image[1] = 0x01;
    image[3] = 0x02;
    image[1000] = 0x42;
    {
        RunningBox box({.eraseMs = 50}, {.linkPath = linkPath, .stopAfterDownloads = 1});
        ASSERT_TRUE(box.started);
        SerialLink link;
        ASSERT_TRUE(link.Open(linkPath, 115200, 0, 2, 8)) << link.OpenError();
        EXPECT_EQ(Exchange(link, {'*'}, 1), Bytes{0x01});
        Bytes length = kLengthBlock;
        length.insert(length.begin(), 0xFE);
        EXPECT_EQ(Exchange(link, length, 2), (Bytes{'R', 'R'}));  // the second after the erase's 50 ms
        EXPECT_EQ(Exchange(link, image, 1), Bytes{'R'});
        // The read-back as the tool takes it, in one read.
        Bytes readBack(image.size() - 6);
        EXPECT_EQ(link.Read(readBack.data(), static_cast<std::uint32_t>(readBack.size())),
                  static_cast<std::int32_t>(readBack.size()));
        EXPECT_TRUE(readBack == Bytes(image.begin() + 6, image.end()));
        EXPECT_EQ(Exchange(link, {'S'}, 0), Bytes{});

        box.Join();  // no Stop: the verdict ends the one download asked for
        EXPECT_EQ(box.result, 0);
        EXPECT_EQ(box.server.Model().LastImage(), image);
        EXPECT_EQ(box.server.Model().LastVerdict(), 'S');
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(linkPath)));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A whole download by the tool's own workflow: the box sees the line settings
// the tool chose for the file's kind, and keeps the image it received.
TEST(BoxServer, SeesTheToolsLineSettingsAndSavesEachImage) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("kestrel-box-save-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    Bytes binary(1000);
    for (std::size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<std::uint8_t>(i * 7);
    }
    const std::string firmware = (dir / "image.bin").string();
    std::ofstream(firmware, std::ios::binary).write(reinterpret_cast<const char*>(binary.data()), 1000);

    std::vector<std::string> reports;
    BoxServerOptions options{.saveImagePath = (dir / "received-%d.bin").string()};
    options.report = [&reports](const std::string& message) { reports.push_back(message); };
    RunningBox box({.firmwareType = 2, .dataIdleMs = 50}, std::move(options));
    ASSERT_TRUE(box.started);
    RecordingStatusList status;
    EXPECT_EQ(RunDownload(box.server.DevicePath(), firmware, status), DownloadOutcome::Success);
    box.server.Stop();
    box.Join();

    // The binary image goes at 38400 baud from its first byte on.
    EXPECT_EQ(box.server.SeenLineSettings(),
              (std::vector<LineSettings>{{.baudRate = 38400, .dataBits = 8, .parity = 'N', .stopBits = 2}}));
    EXPECT_EQ(ReadFile((dir / "received-1.bin").string()), binary);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "line 38400 baud, 8N2");
    std::filesystem::remove_all(dir);
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
