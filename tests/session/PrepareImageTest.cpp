#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <termios.h>
#include <unistd.h>

#include "SessionTestFirmware.h"
#include "emulator/PseudoTerminal.h"
#include "session/PrepareImage.h"
#include "session/RecordingStatusList.h"
#include "support/SimulatedBox.h"
#include "support/TempDir.h"

// The preparation stages: which files are taken, with which reader, and the
// lines each refusal leaves in the list.
namespace kestrel::testing {
namespace {

using Lines = std::vector<std::string>;

const std::string kLoading = "Loading sourcefile... ";
const std::string kAnalysing = "Analysing sourcefile... ";
const std::string kBuilding = "Building output data... ";

std::string MotText(const std::vector<FirmwareBlock>& blocks, const SRecordStyle& style = {}) {
    return WriteSRecordFile(blocks, 32, style);
}

struct Prepared {
    DownloadOutcome outcome;
    Lines lines;
    std::uint8_t sourceKind;
    Bytes image;
};

// Preparation on a session without a link, as an image is built for a file only.
Prepared Prepare(const std::string& path) {
    RecordingStatusList status;
    auto session = std::make_unique<DataConverter>(status);
    const DownloadOutcome outcome = PrepareImage(*session, path, status);
    return {outcome, status.lines(), session->sourceKind,
            Bytes(session->OutputBuffer.begin(), session->OutputBuffer.begin() + session->outputLength)};
}

TEST(PrepareImage, TheExtensionInAnyCaseChoosesReaderAndBuilder) {
    TempDir dir;
    const std::string mot = MotText(SampleBlocks());  // S0, 13 S2 lines, S5, S8
    const Bytes bin = BinImage(500);
    std::filesystem::create_directory(dir.Path() / "folder.mot");
    struct Case {
        std::string file;
        const std::string* text;  // null: the binary image; the file is not written for "missing"
        DownloadOutcome outcome;
        Lines lines;
        std::uint8_t sourceKind;
    };
    const Lines motDone = {kLoading, kAnalysing, "16 lines interpreted", kBuilding};
    const Lines binDone = {kLoading, kAnalysing, "3 lines interpreted", kBuilding};  // 256 + 256 + 18 bytes
    const Lines unknown = {kLoading, "Error: unknown sourcefile"};
    const Lines cannotOpen = {kLoading, "Error: cannot open sourcefile"};
    const std::vector<Case> cases = {
        {"FIRMWARE.MOT", &mot, DownloadOutcome::Success, motDone, 1},
        {"firmware.Mot", &mot, DownloadOutcome::Success, motDone, 1},
        {"x.BIN", nullptr, DownloadOutcome::Success, binDone, 2},
        {"image.Bin", nullptr, DownloadOutcome::Success, binDone, 2},
        {"firmware.hex", &mot, DownloadOutcome::FileFailed, unknown, 0},
        {"firmware.mot.txt", &mot, DownloadOutcome::FileFailed, unknown, 0},
        {"firmwaremot", &mot, DownloadOutcome::FileFailed, unknown, 0},
        {"missing.mot", &mot, DownloadOutcome::FileFailed, cannotOpen, 0},
        {"folder.mot", &mot, DownloadOutcome::FileFailed, cannotOpen, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::string path = (dir.Path() / c.file).string();
        if (c.file != "missing.mot" && c.file != "folder.mot") {
            path = c.text != nullptr ? dir.Write(c.file, *c.text) : dir.Write(c.file, bin);
        }
        const Prepared prepared = Prepare(path);
        EXPECT_EQ(prepared.outcome, c.outcome);
        EXPECT_EQ(prepared.lines, c.lines);
        EXPECT_EQ(prepared.sourceKind, c.sourceKind);
        if (c.outcome == DownloadOutcome::Success) {
            EXPECT_TRUE(prepared.image == (c.sourceKind == 1 ? SelfProgImage(SampleBlocks()) : bin));
        }
    }
}

// A path of three characters names a file in the working directory.
TEST(PrepareImage, APathOfThreeCharactersIsOfNoKnownKind) {
    TempDir dir;
    dir.Write("mot", MotText(SampleBlocks()));
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    const Prepared prepared = Prepare("mot");
    std::filesystem::current_path(before);
    EXPECT_EQ(prepared.outcome, DownloadOutcome::FileFailed);
    EXPECT_EQ(prepared.lines, (Lines{kLoading, "Error: unknown sourcefile"}));
}

TEST(PrepareImage, SizeLimitsAtTheirEdges) {
    TempDir dir;
    struct Case {
        std::string file;
        std::size_t size;
        int result;
        Lines lines;
    };
    const Lines tooLarge = {"Error: sourcefile too large"};
    const std::vector<Case> cases = {
        {"empty.mot", 0, 0, {}},
        {"largest.mot", 500000, 0, {}},
        {"toolarge.mot", 500001, DataConverter::kSourceSizeRefused, tooLarge},
        {"largest.bin", 229376, 0, {}},
        {"toolarge.bin", 229377, DataConverter::kSourceSizeRefused, tooLarge},
        {"shortest.bin", 30, 0, {}},
        {"tooshort.bin", 29, DataConverter::kSourceSizeRefused, {"Error: sourcefile too short"}},
        {"empty.bin", 0, DataConverter::kSourceSizeRefused, {"Error: sourcefile too short"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const Bytes content = Pattern(c.size, 4);
        const std::string path = dir.Write(c.file, content);
        RecordingStatusList status;
        auto session = std::make_unique<DataConverter>(status);
        EXPECT_EQ(session->LoadSourceFile(path), c.result);
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

TEST(PrepareImage, TheContentDecidesTheAnalysisAndTheBuild) {
    TempDir dir;
    const std::uint8_t four[] = {0x11, 0x22, 0x33, 0x44};
    const std::string header = SRecordLine('0', 0, nullptr, 0);
    const std::string start = SRecordLine('2', kWindowStart, four, 4);
    const std::string end = SRecordLine('8', kWindowStart, nullptr, 0);
    struct Case {
        std::string name;
        std::string text;
        DownloadOutcome outcome;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {"an empty file builds the blank image", "", DownloadOutcome::Success,
         {kLoading, kAnalysing, "0 lines interpreted", kBuilding}},
        {"LF-only line ends", MotText(SampleBlocks(), {.lineEnd = "\n"}), DownloadOutcome::Success,
         {kLoading, kAnalysing, "16 lines interpreted", kBuilding}},
        {"lower-case hex digits", MotText(SampleBlocks(), {.lowerCase = true}), DownloadOutcome::Success,
         {kLoading, kAnalysing, "16 lines interpreted", kBuilding}},
        {"an S1 line", header + start + SRecordLine('1', 0x1000, four, 4) + end, DownloadOutcome::DataFailed,
         {kLoading, kAnalysing, "Error: unsupported record type in line 3"}},
        {"an S2 line cut short", header + start.substr(0, 12) + "\r\n" + end, DownloadOutcome::DataFailed,
         {kLoading, kAnalysing, "Error: malformed record in line 2"}},
        {"the first record not at 0xE0000", header + SRecordLine('2', kWindowStart + 1, four, 4) + end,
         DownloadOutcome::DataFailed,
         {kLoading, kAnalysing, "3 lines interpreted", kBuilding, "Error: startaddress is not 0xE0000"}},
        {"a later record past the window", header + start + SRecordLine('2', 0xFFFFE, four, 4) + end,
         DownloadOutcome::DataFailed,
         {kLoading, kAnalysing, "4 lines interpreted", kBuilding, "Error: address outside 0xE0000..0xFFFFF"}},
        {"a later record below the window", header + start + SRecordLine('2', 0xDFFFC, four, 4) + end,
         DownloadOutcome::DataFailed,
         {kLoading, kAnalysing, "4 lines interpreted", kBuilding, "Error: address outside 0xE0000..0xFFFFF"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Prepared prepared = Prepare(dir.Write("firmware.mot", c.text));
        EXPECT_EQ(prepared.outcome, c.outcome);
        EXPECT_EQ(prepared.lines, c.lines);
        if (c.outcome == DownloadOutcome::Success) {
            EXPECT_TRUE(prepared.image == SelfProgImage(c.text.empty() ? std::vector<FirmwareBlock>{} : SampleBlocks()));
        }
    }
}

// A binary image goes at 38400 baud: the link that the download opened is opened again.
TEST(PrepareImage, ABinaryImageReopensTheUsbLinkAt38400Baud) {
    TempDir dir;
    const std::string path = dir.Write("image.bin", BinImage(100));
    SimulatedBox box;
    auto session = box.OpenSession();
    ASSERT_EQ(box.opened, 0);
    EXPECT_EQ(PrepareImage(*session, path, box.status), DownloadOutcome::Success);
    EXPECT_EQ(box.driver.BaudRates(box.slot), (std::vector<std::uint32_t>{115200, 38400}));
    EXPECT_TRUE(box.driver.IsOpen(box.slot));
    EXPECT_EQ(session->LinkKind, DataConverter::kLinkUsb);
}

TEST(PrepareImage, ABinaryImageWhoseLinkWillNotReopenEndsAtLoading) {
    TempDir dir;
    const std::string path = dir.Write("image.bin", BinImage(100));
    SimulatedBox box;
    auto session = box.OpenSession();
    ASSERT_EQ(box.opened, 0);
    box.driver.Device(box.slot).refuseBaudRate = true;
    EXPECT_EQ(PrepareImage(*session, path, box.status), DownloadOutcome::LinkFailed);
    EXPECT_EQ(box.status.lines(), (Lines{kLoading, "Error: cannot open Ixo Serial Device"}));
    EXPECT_FALSE(box.driver.IsOpen(box.slot));
}

TEST(PrepareImage, ABinaryImageReopensTheSerialLinkAt38400Baud) {
    emulator::PseudoTerminal line;
    ASSERT_TRUE(line.Create()) << line.Error();
    TempDir dir;
    const std::string bin = dir.Write("image.bin", BinImage(100));
    const std::string mot = dir.Write("image.mot", MotText(SampleBlocks()));
    for (const auto& [path, speed] : {std::pair{bin, B38400}, std::pair{mot, B115200}}) {
        SCOPED_TRACE(path);
        RecordingStatusList status;
        DataConverter session(status);
        ASSERT_EQ(session.OpenInterface(line.SlavePath(), 115200), 0);
        EXPECT_EQ(PrepareImage(session, path, status), DownloadOutcome::Success);
        ASSERT_TRUE(session.serialLink->IsOpen());
        termios settings{};
        ASSERT_EQ(::tcgetattr(line.SlaveFd(), &settings), 0);
        EXPECT_EQ(::cfgetospeed(&settings), speed);
        EXPECT_EQ(::cfgetispeed(&settings), speed);
    }
}

}  // namespace
}  // namespace kestrel::testing
