#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "session/PrepareImage.h"
#include "support/Firmware.h"
#include "support/SimulatedBox.h"

// The preparation stages: which files are taken, with which reader, and the
// lines each outcome leaves in the list. A file without data and one whose
// first record is misplaced are the download's rows (DownloadWorkflowTest), an
// unsupported record type is the CLI's (CliImageTest).
namespace kestrel::testing {
namespace {

using O = DownloadOutcome;
const std::string kLoading = "Loading sourcefile... ";
const std::string kAnalysing = "Analysing sourcefile... ";
const std::string kBuilding = "Building output data... ";

// The paths are relative to the test's directory, so that one of three
// characters can name a file too.
TEST(PrepareImage, EachFileGivesItsReaderLinesAndImage) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "folder.mot");
    ASSERT_EQ(::mkfifo((dir.Path() / "pipe.mot").c_str(), 0600), 0);
    std::filesystem::create_symlink("FIRMWARE.MOT", dir.Path() / "link.mot");   // written by its row
    const std::string mot = WriteSRecordFile(SampleBlocks());                   // S0, 13 S2 lines, S5, S8
    const Bytes motImage = SelfProgImage(SampleBlocks()), bin = BinImage(500);  // 256 + 256 + 18 bytes
    const std::string binText(bin.begin(), bin.end());
    const std::string s0 = SRecordLine('0', 0, nullptr, 0), s8 = SRecordLine('8', kWindowStart, nullptr, 0);
    const Bytes four = {0x11, 0x22, 0x33, 0x44};
    const std::string cut = s0 + S2Line(kWindowStart, four).substr(0, 12) + "\r\n" + s8;
    const std::string above = s0 + S2Line(kWindowStart, four) + S2Line(0xFFFFE, four) + s8;
    const Lines motDone = {kLoading, kAnalysing, "16 lines interpreted", kBuilding};
    const Lines outside = {kLoading, kAnalysing, "4 lines interpreted", kBuilding,
                           "Error: address outside 0xE0000..0xFFFFF"};
    const Lines unknown = {kLoading, "Error: unknown sourcefile"},
                cannotOpen = {kLoading, "Error: cannot open sourcefile"};
    struct Case {
        std::string file;
        std::string content;  // empty: not written
        O outcome;
        Lines lines;
        Bytes image;  // checked when the preparation succeeds
        int openError = 0;
    };
    const std::vector<Case> cases = {
        {"FIRMWARE.MOT", mot, O::Success, motDone, motImage},
        {"link.mot", "", O::Success, motDone, motImage},
        {"x.BIN", binText, O::Success, {kLoading, kAnalysing, "3 lines interpreted", kBuilding}, bin},
        {"firmware.mot.txt", mot, O::FileFailed, unknown, {}},
        {"firmwaremot", mot, O::FileFailed, unknown, {}},
        {"mot", mot, O::FileFailed, unknown, {}},
        {"missing.mot", "", O::FileFailed, cannotOpen, {}, ENOENT},
        {"folder.mot", "", O::FileFailed, cannotOpen, {}, EISDIR},
        {"pipe.mot", "", O::FileFailed, cannotOpen, {}, EINVAL},
        {"cut.mot", cut, O::DataFailed, {kLoading, kAnalysing, "Error: malformed record in line 2"}, {}},
        {"above.mot", above, O::DataFailed, outside, {}},
    };
    // Should opening the FIFO wait for a writer, one comes after 2 s and releases it: the test fails, not hangs.
    std::atomic<bool> released = false;
    std::jthread release([&released, fifo = dir.Path() / "pipe.mot"](std::stop_token stop) {
        for (int wait = 0; wait < 100 && !stop.stop_requested(); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) {
            released = true;  // only a waiting reader lets this open succeed
            ::close(fd);
        }
    });
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        if (!c.content.empty())
            dir.Write(c.file, c.content);
        RecordingStatusList status;
        int reported = 0;
        SessionOptions options;
        options.openFailed = [&reported](int error) { reported = error; };
        auto session = std::make_unique<DataConverter>(status, options);
        EXPECT_EQ(PrepareImage(*session, c.file, status), c.outcome);
        EXPECT_EQ(status.lines(), c.lines);
        EXPECT_EQ(session->sourceOpenError, c.openError);
        EXPECT_EQ(reported, c.openError);
        if (c.outcome == O::Success) {
            EXPECT_TRUE(Bytes(session->OutputBuffer.data(), session->OutputBuffer.data() + session->outputLength) ==
                        c.image);
        }
    }
    std::filesystem::current_path(before);
    release.request_stop();
    release.join();
    EXPECT_FALSE(released) << "opening the FIFO waited for a writer";
}

TEST(PrepareImage, SizeLimitsAtTheirEdges) {
    TempDir dir;
    const Lines tooLarge = {"Error: sourcefile too large"}, tooShort = {"Error: sourcefile too short"};
    constexpr int kRefused = DataConverter::kSourceSizeRefused;
    for (const auto& [file, size, result, lines] : std::vector<std::tuple<std::string, std::size_t, int, Lines>>{
             {"empty.mot", 0, 0, {}},
             {"largest.mot", 500000, 0, {}},
             {"toolarge.mot", 500001, kRefused, tooLarge},
             {"largest.bin", 229376, 0, {}},
             {"toolarge.bin", 229377, kRefused, tooLarge},
             {"shortest.bin", 30, 0, {}},
             {"tooshort.bin", 29, kRefused, tooShort},
         }) {
        SCOPED_TRACE(file);
        const Bytes content = Pattern(size, 4);
        RecordingStatusList status;
        auto session = std::make_unique<DataConverter>(status);
        EXPECT_EQ(session->LoadSourceFile(dir.Write(file, content)), result);
        EXPECT_EQ(status.lines(), lines);
        if (result == 0) {
            EXPECT_TRUE(Bytes(session->SourceBuffer.data(), session->SourceBuffer.data() + session->sourceLength) ==
                        content);
        }
    }
}

// A binary image goes at 38400 baud: the USB link that the download opened is
// opened again, and a device that will not take the new speed is let go.
TEST(PrepareImage, ABinaryImageWhoseLinkWillNotReopenEndsAtLoading) {
    TempDir dir;
    SimulatedBox box;
    auto session = box.OpenSession();
    ASSERT_EQ(box.opened, 0);
    box.driver.Device(box.slot).refuseBaudRate = true;
    EXPECT_EQ(PrepareImage(*session, dir.Write("image.bin", BinImage(100)), box.status), O::LinkFailed);
    EXPECT_EQ(box.status.lines(), (Lines{kLoading, "Error: cannot open Ixo Serial Device"}));
    EXPECT_FALSE(box.driver.IsOpen(box.slot));
}

}  // namespace
}  // namespace kestrel::testing
