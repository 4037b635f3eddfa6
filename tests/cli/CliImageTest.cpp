// kestrel-flash --dump-image and --check, run as a script would run them.
#include <gtest/gtest.h>

#include <map>

#include "CliPaths.h"
#include "RunProcess.h"
#include "support/SRecordWriter.h"
#include "support/TempDir.h"

namespace kestrel::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;


// The image of a .mot file, built here without the tool's code: the six head
// bytes, then the window 0xE0000..0xFFFFF filled with 0xFF under the S2 data.
Bytes ReferenceImage(const std::string& motText) {
    Bytes image(0x20006, 0xFF);
    const Bytes head = {0x00, 0x01, 0x00, 0x02, 0x00, 0x00};
    std::copy(head.begin(), head.end(), image.begin());
    std::istringstream in(motText);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("S2", 0) != 0) {
            continue;
        }
        auto byteAt = [&](std::size_t i) { return static_cast<std::uint8_t>(std::stoul(line.substr(2 + 2 * i, 2), nullptr, 16)); };
        const std::size_t count = byteAt(0);
        const std::uint32_t address = (byteAt(1) << 16) | (byteAt(2) << 8) | byteAt(3);
        for (std::size_t i = 0; i + 4 < count; ++i) {
            image[6 + address - 0xE0000 + i] = byteAt(4 + i);
        }
    }
    return image;
}

const std::vector<std::string> kPreparedLines = {"Loading sourcefile... ", "Analysing sourcefile... ",
                                                 "270 lines interpreted", "Building output data... "};

TEST(KestrelFlashImage, DumpsTheSamplesAsTheBoxReceivesThem) {
    TempDir dir;
    const std::string mot = kSamples + "/kestrel-demo.mot";
    const auto motRun = RunProcess({kFlash, "--dump-image", (dir.Path() / "mot.img").string(), mot});
    EXPECT_EQ(motRun.exitStatus, 0) << motRun.err;
    EXPECT_EQ(motRun.OutLines(), kPreparedLines);
    const Bytes motFile = ReadFile(mot);
    EXPECT_EQ(ReadFile((dir.Path() / "mot.img").string()), ReferenceImage(std::string(motFile.begin(), motFile.end())));

    // A binary image goes to the box as it is, header and all.
    const std::string bin = kSamples + "/kestrel-demo.bin";
    const auto binRun = RunProcess({kFlash, "--dump-image", (dir.Path() / "bin.img").string(), bin});
    EXPECT_EQ(binRun.exitStatus, 0) << binRun.err;
    EXPECT_EQ(binRun.LastOutLine(), "Building output data... ");
    EXPECT_EQ(ReadFile((dir.Path() / "bin.img").string()), ReadFile(bin));
}

TEST(KestrelFlashImage, EveryRefusalEndsWithItsErrorLineAndStatusOne) {
    TempDir dir;
    const Bytes code(64, 0x5A);
    const std::string good = S2Line(0xE0000, code);
    const std::map<std::string, std::pair<std::string, std::string>> cases = {
        // name -> file text, last status line
        {"unsupported.mot", {good + "S9030000FC\r\n", "Error: unsupported record type in line 2"}},
        {"malformed.mot", {good + "S2050E00\r\n", "Error: malformed record in line 2"}},
        {"start.mot", {S2Line(0xE0100, code), "Error: startaddress is not 0xE0000"}},
        {"outside.mot", {good + S2Line(0xFFFF0, Bytes(32, 1)), "Error: address outside 0xE0000..0xFFFFF"}},
        {"short.bin", {std::string(29, 'x'), "Error: sourcefile too short"}},
        {"large.bin", {std::string(229377, 'x'), "Error: sourcefile too large"}},
        {"firmware.hex", {good, "Error: unknown sourcefile"}},
    };
    for (const auto& [name, testCase] : cases) {
        const std::string path = dir.Write(name, testCase.first);
        const std::string out = (dir.Path() / "out.img").string();
        const auto run = RunProcess({kFlash, "--dump-image", out, path});
        EXPECT_EQ(run.exitStatus, 1) << name;
        EXPECT_EQ(run.LastOutLine(), testCase.second) << name;
    }
    const auto missing = RunProcess({kFlash, "--dump-image", (dir.Path() / "x").string(), "/nonexistent/a.mot"});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_EQ(missing.LastOutLine(), "Error: cannot open sourcefile");
}

TEST(KestrelFlashImage, UsageErrorsAndInformationHaveTheirOwnStatus) {
    EXPECT_EQ(RunProcess({kFlash}).exitStatus, 2);
    EXPECT_EQ(RunProcess({kFlash, "--no-such-option", "a.mot"}).exitStatus, 2);
    EXPECT_EQ(RunProcess({kFlash, "--emulate=no-such-scenario", "a.mot"}).exitStatus, 2);
    EXPECT_EQ(RunProcess({kFlash, "--timeout", "0", "a.mot"}).exitStatus, 2);
    const auto help = RunProcess({kFlash, "--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("9  cancelled"), std::string::npos);
    const auto version = RunProcess({kFlash, "--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out.rfind("kestrel-flash ", 0), 0u);
}

TEST(KestrelFlashImage, CheckReportsWhatTheDownloadTakesSilently) {
    TempDir dir;
    const auto clean = RunProcess({kFlash, "--check", kSamples + "/kestrel-demo.mot"});
    EXPECT_EQ(clean.exitStatus, 0) << clean.err;
    EXPECT_EQ(clean.err, "");

    std::string badSum = S2Line(0xE0000, Bytes(16, 0x11));
    badSum[badSum.size() - 3] = badSum[badSum.size() - 3] == '0' ? '1' : '0';  // the checksum's last digit
    const std::string text = SRecordLine('0', 0, nullptr, 0) + badSum + S2Line(0xE0010, Bytes(16, 0x22)) +
                             S2Line(0xE0008, Bytes(4, 0x33)) + SRecordLine('5', 7, nullptr, 0) +
                             SRecordLine('8', 0xE0000, nullptr, 0);
    const std::string path = dir.Write("findings.mot", text);
    const auto run = RunProcess({kFlash, "--check", path});
    EXPECT_EQ(run.exitStatus, 1);
    // The download path takes this file: the stages succeed.
    EXPECT_EQ(run.LastOutLine(), "Building output data... ");
    EXPECT_NE(run.err.find(path + ":2: checksum"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(path + ":4: data at 0xE0008 overlaps the record of line 2"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(path + ":5: S5 counts 7 data records, the file has 3"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(":3:"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace kestrel::testing
