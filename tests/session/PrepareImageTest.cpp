#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "session/PrepareImage.h"
#include "session/RecordingStatusList.h"
#include "support/Firmware.h"

// The preparation stages: which files are taken, with which reader, up to
// which size, and the lines each outcome leaves in the list. A file without
// data, one whose first record is misplaced, the largest binary image and a
// link that will not reopen for a binary image are the download's scenarios
// (SessionScenarios.h), an unsupported record type is the CLI's.
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
    const std::string s0 = SRecordLine('0', 0, nullptr, 0), s8 = SRecordLine('8', kWindowStart, nullptr, 0);
    const Bytes four = {0x11, 0x22, 0x33, 0x44};
    const std::string cut = s0 + S2Line(kWindowStart, four).substr(0, 12) + "\r\n" + s8;
    const std::string above = s0 + S2Line(kWindowStart, four) + S2Line(0xFFFFE, four) + s8;
    // What follows the end record is not read, but it counts against the source buffer.
    const std::string fullMot = mot + std::string(500000 - mot.size(), 'x');
    const Bytes largestBin = Pattern(229376, 4), shortestBin = Pattern(30, 4);
    const auto text = [](const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); };
    const auto done = [](int lines) {
        return Lines{kLoading, kAnalysing, std::to_string(lines) + " lines interpreted", kBuilding};
    };
    const auto failed = [](const std::string& error) { return Lines{kLoading, error}; };
    const Lines unknown = failed("Error: unknown sourcefile"), cannotOpen = failed("Error: cannot open sourcefile");
    const Lines tooLarge = failed("Error: sourcefile too large"), tooShort = failed("Error: sourcefile too short");
    struct Case {
        std::string file;
        std::optional<std::string> content;  // none: not written here
        O outcome;
        Lines lines;
        Bytes image = {};  // checked when the preparation succeeds
        int openError = 0;
    };
    const std::vector<Case> cases = {
        {"FIRMWARE.MOT", mot, O::Success, done(16), motImage},
        {"link.mot", {}, O::Success, done(16), motImage},
        {"x.BIN", text(bin), O::Success, done(3), bin},
        {"firmware.mot.txt", mot, O::FileFailed, unknown},
        {"mot", mot, O::FileFailed, unknown},
        {"missing.mot", {}, O::FileFailed, cannotOpen, {}, ENOENT},
        {"folder.mot", {}, O::FileFailed, cannotOpen, {}, EISDIR},
        {"pipe.mot", {}, O::FileFailed, cannotOpen, {}, EINVAL},
        {"cut.mot", cut, O::DataFailed, {kLoading, kAnalysing, "Error: malformed record in line 2"}},
        {"above.mot", above, O::DataFailed, Concat({done(4), {"Error: address outside 0xE0000..0xFFFFF"}})},
        {"full.mot", fullMot, O::Success, done(16), motImage},
        {"overfull.mot", fullMot + "x", O::FileFailed, tooLarge},
        {"toolarge.bin", text(largestBin) + "x", O::FileFailed, tooLarge},
        {"shortest.bin", text(shortestBin), O::Success, done(1), shortestBin},
        {"tooshort.bin", text(shortestBin).substr(1), O::FileFailed, tooShort},
    };
    // Should opening the FIFO wait for a writer, the alarm ends the process after 5 s: the test fails, not hangs.
    ::alarm(5);
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        if (c.content)
            dir.Write(c.file, *c.content);
        RecordingStatusList status;
        int reported = 0;
        const SessionOptions options{.openFailed = [&reported, &c](const OpenFailure& failure) {
            EXPECT_EQ(failure.target, OpenFailure::Target::SourceFile);
            EXPECT_EQ(failure.name, c.file);
            reported = failure.error;
        }};
        auto session = std::make_unique<DataConverter>(status, options);
        EXPECT_EQ(PrepareImage(*session, c.file, status), c.outcome);
        EXPECT_EQ(status.lines(), c.lines);
        EXPECT_EQ(reported, c.openError);
        if (c.outcome == O::Success) {
            EXPECT_TRUE(Bytes(session->OutputBuffer.data(), session->OutputBuffer.data() + session->outputLength) ==
                        c.image);
            // A binary file's records lie at their offsets in it.
            for (std::size_t i = 0; session->sourceKind == kSourceKindBin && i < session->records.size(); ++i)
                EXPECT_EQ(session->records.at(i).address, i * DataRecord::kCapacity);
        }
    }
    ::alarm(0);
    std::filesystem::current_path(before);
}

}  // namespace
}  // namespace kestrel::testing
