#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "session/PrepareImage.h"
#include "session/RecordingStatusList.h"
#include "support/Firmware.h"
#include "support/SimulatedBox.h"
#include "support/TempDir.h"

// The preparation stages: which files are taken, with which reader, and the
// lines each outcome leaves in the list.
namespace kestrel::testing {
namespace {

const std::string kLoading = "Loading sourcefile... ";
const std::string kAnalysing = "Analysing sourcefile... ";
const std::string kBuilding = "Building output data... ";

// The paths are relative to the test's directory, so that one of three
// characters can name a file too.
TEST(PrepareImage, EachFileGivesItsReaderLinesAndImage) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "folder.mot");
    ASSERT_EQ(::mkfifo((dir.Path() / "pipe.mot").c_str(), 0600), 0);
    std::filesystem::create_symlink("FIRMWARE.MOT", dir.Path() / "link.mot");  // written by its row
    const std::string mot = WriteSRecordFile(SampleBlocks());                  // S0, 13 S2 lines, S5, S8
    const Bytes binBytes = BinImage(500);                                      // 256 + 256 + 18 bytes
    const std::string bin(binBytes.begin(), binBytes.end());
    const std::uint8_t four[] = {0x11, 0x22, 0x33, 0x44};
    const std::string s0 = SRecordLine('0', 0, nullptr, 0);
    const std::string first = SRecordLine('2', kWindowStart, four, 4);
    const std::string s8 = SRecordLine('8', kWindowStart, nullptr, 0);
    const Bytes motImage = SelfProgImage(SampleBlocks());
    const Lines motDone = {kLoading, kAnalysing, "16 lines interpreted", kBuilding};
    const Lines unknown = {kLoading, "Error: unknown sourcefile"};
    const Lines cannotOpen = {kLoading, "Error: cannot open sourcefile"};
    struct Case {
        std::string file;
        std::optional<std::string> content;  // none: not written
        DownloadOutcome outcome;
        Lines lines;
        std::uint8_t sourceKind;
        Bytes image;  // checked when the preparation succeeds
        int openError = 0;
    };
    const std::vector<Case> cases = {
        {"FIRMWARE.MOT", mot, DownloadOutcome::Success, motDone, 1, motImage},
        {"firmware.Mot", mot, DownloadOutcome::Success, motDone, 1, motImage},
        {"link.mot", std::nullopt, DownloadOutcome::Success, motDone, 1, motImage},
        {"x.BIN", bin, DownloadOutcome::Success, {kLoading, kAnalysing, "3 lines interpreted", kBuilding}, 2, binBytes},
        {"firmware.hex", mot, DownloadOutcome::FileFailed, unknown, 0, {}},
        {"firmware.mot.txt", mot, DownloadOutcome::FileFailed, unknown, 0, {}},
        {"firmwaremot", mot, DownloadOutcome::FileFailed, unknown, 0, {}},
        {"mot", mot, DownloadOutcome::FileFailed, unknown, 0, {}},
        {"missing.mot", std::nullopt, DownloadOutcome::FileFailed, cannotOpen, 0, {}, ENOENT},
        {"folder.mot", std::nullopt, DownloadOutcome::FileFailed, cannotOpen, 0, {}, EISDIR},
        {"pipe.mot", std::nullopt, DownloadOutcome::FileFailed, cannotOpen, 0, {}, EINVAL},
        {"nodata.mot",
         s0 + SRecordLine('2', kWindowStart, nullptr, 0) + s8,
         DownloadOutcome::DataFailed,
         {kLoading, kAnalysing, "3 lines interpreted", kBuilding, "Error: no data in sourcefile"},
         1,
         {}},
        {"s1.mot",
         s0 + first + SRecordLine('1', 0x1000, four, 4) + s8,
         DownloadOutcome::DataFailed,
         {kLoading, kAnalysing, "Error: unsupported record type in line 3"},
         1,
         {}},
        {"cut.mot",
         s0 + first.substr(0, 12) + "\r\n" + s8,
         DownloadOutcome::DataFailed,
         {kLoading, kAnalysing, "Error: malformed record in line 2"},
         1,
         {}},
        {"misplaced.mot",
         s0 + SRecordLine('2', kWindowStart + 1, four, 4) + s8,
         DownloadOutcome::DataFailed,
         {kLoading, kAnalysing, "3 lines interpreted", kBuilding, "Error: startaddress is not 0xE0000"},
         1,
         {}},
        {"above.mot",
         s0 + first + SRecordLine('2', 0xFFFFE, four, 4) + s8,
         DownloadOutcome::DataFailed,
         {kLoading, kAnalysing, "4 lines interpreted", kBuilding, "Error: address outside 0xE0000..0xFFFFF"},
         1,
         {}},
    };
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        if (c.content)
            dir.Write(c.file, *c.content);
        RecordingStatusList status;
        int reported = 0;
        SessionOptions options;
        options.openFailed = [&reported](int error) { reported = error; };
        auto session = std::make_unique<DataConverter>(status, options);
        // Should the FIFO block, a writer that comes and goes releases it, and the lines tell.
        std::jthread release;
        if (c.file == "pipe.mot") {
            release = std::jthread([&c](std::stop_token stop) {
                for (int wait = 0; wait < 100 && !stop.stop_requested(); ++wait)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (const int fd = ::open(c.file.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0)
                    ::close(fd);
            });
        }
        EXPECT_EQ(PrepareImage(*session, c.file, status), c.outcome);
        EXPECT_EQ(status.lines(), c.lines);
        EXPECT_EQ(session->sourceKind, c.sourceKind);
        EXPECT_EQ(session->sourceOpenError, c.openError);
        EXPECT_EQ(reported, c.openError);
        if (c.outcome == DownloadOutcome::Success) {
            EXPECT_TRUE(Bytes(session->OutputBuffer.begin(), session->OutputBuffer.begin() + session->outputLength) ==
                        c.image);
        }
    }
    std::filesystem::current_path(before);
}

TEST(PrepareImage, SizeLimitsAtTheirEdges) {
    TempDir dir;
    const Lines tooLarge = {"Error: sourcefile too large"};
    const Lines tooShort = {"Error: sourcefile too short"};
    struct Case {
        std::string file;
        std::size_t size;
        int result;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {"empty.mot", 0, 0, {}},
        {"largest.mot", 500000, 0, {}},
        {"toolarge.mot", 500001, DataConverter::kSourceSizeRefused, tooLarge},
        {"largest.bin", 229376, 0, {}},
        {"toolarge.bin", 229377, DataConverter::kSourceSizeRefused, tooLarge},
        {"shortest.bin", 30, 0, {}},
        {"tooshort.bin", 29, DataConverter::kSourceSizeRefused, tooShort},
        {"empty.bin", 0, DataConverter::kSourceSizeRefused, tooShort},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const Bytes content = Pattern(c.size, 4);
        RecordingStatusList status;
        auto session = std::make_unique<DataConverter>(status);
        EXPECT_EQ(session->LoadSourceFile(dir.Write(c.file, content)), c.result);
        EXPECT_EQ(status.lines(), c.lines);
        if (c.result == 0) {
            EXPECT_EQ(session->sourceLength, c.size);
            EXPECT_TRUE(std::equal(content.begin(), content.end(), session->SourceBuffer.begin()));
        } else {
            EXPECT_EQ(session->reader, nullptr);
            EXPECT_EQ(session->builder, nullptr);
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
    EXPECT_EQ(PrepareImage(*session, dir.Write("image.bin", BinImage(100)), box.status), DownloadOutcome::LinkFailed);
    EXPECT_EQ(box.status.lines(), (Lines{kLoading, "Error: cannot open Ixo Serial Device"}));
    EXPECT_FALSE(box.driver.IsOpen(box.slot));
}

}  // namespace
}  // namespace kestrel::testing
