// kestrel-flash --dump-image and --check, and the status of each kind of
// refusal, run as a script would run them.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliSupport.h"
#include "support/SRecordWriter.h"

namespace kestrel::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The image of a .mot file, built here without the tool's code: the six head
// bytes, then the window 0xE0000..0xFFFFF filled with 0xFF under the S2 data.
std::string ReferenceImage(const std::string& motText) {
    std::string image(0x20006, '\xFF');
    image.replace(0, 6, std::string("\x00\x01\x00\x02\x00\x00", 6));
    std::istringstream in(motText);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("S2", 0) != 0)
            continue;
        auto byteAt = [&](std::size_t i) { return std::stoul(line.substr(2 + 2 * i, 2), nullptr, 16); };
        const std::size_t address = (byteAt(1) << 16) | (byteAt(2) << 8) | byteAt(3);
        for (std::size_t i = 0; i + 4 < byteAt(0); ++i) {
            image[6 + address - 0xE0000 + i] = static_cast<char>(byteAt(4 + i));
        }
    }
    return image;
}

TEST(KestrelFlashImage, DumpsTheSamplesAsTheBoxReceivesThem) {
    TempDir dir;
    const std::string image = (dir.Path() / "out.img").string();
    const auto motRun = Flash({"--dump-image", image, kMot});
    EXPECT_EQ(motRun.exitStatus, 0) << motRun.err;
    EXPECT_EQ(motRun.OutLines(), kPrepared);
    EXPECT_EQ(ReadFile(image), ReferenceImage(ReadFile(kMot)));

    // A binary image goes to the box as it is, header and all.
    const auto binRun = Flash({"--dump-image", image, kBin});
    EXPECT_EQ(binRun.exitStatus, 0) << binRun.err;
    EXPECT_EQ(binRun.LastOutLine(), "Building output data... ");
    EXPECT_EQ(ReadFile(image), ReadFile(kBin));
}

TEST(KestrelFlashImage, RefusalsUsageErrorsLostOutputAndInformationHaveTheirOwnStatus) {
    TempDir dir;
    const std::string out = (dir.Path() / "out.img").string();
    const std::string unsupported = dir.Write("unsupported.mot", S2Line(0xE0000, Bytes(64, 0x5A)) + "S9030000FC\r\n");
    const std::string port = dir.Write("port", std::string("x"));
    const std::string log = (dir.Path() / "log").string();
    std::filesystem::create_symlink(port, dir.Path() / "port-link");
    const std::string source = dir.Write("source.mot", ReadFile(kMot));
    std::filesystem::create_symlink(source, dir.Path() / "mot-link");
    int brokenPipe[2];
    ASSERT_EQ(::pipe(brokenPipe), 0);
    ::close(brokenPipe[0]);  // the reader went away
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    struct Row {
        Lines args;
        int status;
        std::string shown;  // in stdout, or for a usage error in stderr
        std::string err{};  // also in stderr
        std::optional<int> stdoutTo{};
    };
    const std::string noFile = "No such file or directory";
    const std::vector<Row> rows = {
        {{"--dump-image", out, unsupported}, 1, "\nError: unsupported record type in line 2\n"},
        {{"--dump-image", out, "/nonexistent/a.mot"}, 1, "\nError: cannot open sourcefile\n", noFile},
        {{"-q", "--emulate", "/nonexistent/a.mot"}, 4, "Error: cannot open sourcefile\n", noFile},
        {{"-p", "/dev/null", "-p", port, "/nonexistent/a.mot"}, 4, "Error: cannot open sourcefile\n", noFile},
        {{}, 2, "FILE is required"},
        {{"--json"}, 2, "FILE is required"},  // also for JSON lines
        {{"--no-such-option", "a.mot"}, 2, "--no-such-option"},
        {{"--emulate=no-such-scenario", "a.mot"}, 2, "no-such-scenario"},
        {{"--timeout", "0", "a.mot"}, 2, "--timeout"},
        {{"--timeout", "nan", "a.mot"}, 2, "--timeout"},
        {{"--emulate", "--wait", "--wait-timeout", "nan", "a.mot"}, 2, "--wait-timeout"},
        // An empty value (an unset variable) or an option that does nothing here.
        {{"--dump-image", "", kMot}, 2, "--dump-image"},
        {{"--emulate", "--log", "", kMot}, 2, "--log"},
        {{"-p", "", kMot}, 2, "--port"},
        {{""}, 2, "FILE"},
        {{"--emulate", "--wait-timeout", "1", kMot}, 2, "--wait"},
        {{"--list-ports", kMot}, 2, "--list-ports"},
        {{"-p", port, "--emulate", kMot}, 2, "--emulate"},
        {{"--check", "--log", log, kMot}, 2, "--log"},
        // The same port twice, the same file as source and image, a log that cannot be kept.
        {{"-p", port, "-p", (dir.Path() / "port-link").string(), kMot}, 2, "given twice"},
        {{"--dump-image", (dir.Path() / "mot-link").string(), source}, 2, "the firmware file itself"},
        {{"--emulate", "--log", "/nonexistent/station.log", kMot}, 2, "/nonexistent/station.log: " + noFile},
        // Lines that stdout did not take: a class of their own, unless the download failed.
        {{"-q", "--emulate", kMot}, 10, "", "not every line", full},
        {{"-q", "--emulate", kMot}, 10, "", "not every line", -1},
        {{"--json", "--emulate", kMot}, 10, "", "not every line", brokenPipe[1]},
        {{"-q", "--emulate=refuse-erase", kMot}, 6, "", "", full},
        {{"-q", "--emulate", "--log", "/dev/full", kMot}, 10, "FLASHING SUCCESSFULL\n", "No space left on device"},
        {{"--help"}, 0, "10  output"},
        {{"--version"}, 0, "kestrel-flash "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.empty() ? "no arguments" : row.args.front() + " " + row.args.back());
        const auto run = Flash(row.args, {.stdoutTo = row.stdoutTo});
        EXPECT_EQ(run.exitStatus, row.status) << run.err;
        const std::string& shownIn = row.status == 2 ? run.err : run.out;
        EXPECT_NE(shownIn.find(row.shown), std::string::npos) << shownIn;
        EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
        EXPECT_TRUE(row.status != 2 || run.out.empty()) << run.out;               // refused before anything was begun
        EXPECT_TRUE(row.status != 1 || run.out.ends_with(row.shown)) << run.out;  // the last line
    }
    EXPECT_FALSE(std::filesystem::exists(log));
    EXPECT_EQ(ReadFile(source), ReadFile(kMot));
    ::close(brokenPipe[1]);
    ::close(full);
}

TEST(KestrelFlashImage, CheckReportsWhatTheDownloadTakesSilently) {
    TempDir dir;
    const auto clean = Flash({"--check", kMot});
    EXPECT_EQ(clean.exitStatus, 0) << clean.err;
    EXPECT_EQ(clean.err, "");

    std::string badSum = S2Line(0xE0000, Bytes(16, 0x11));
    badSum[badSum.size() - 3] = badSum[badSum.size() - 3] == '0' ? '1' : '0';  // the checksum's last digit
    const std::string path =
        dir.Write("findings.mot", SRecordLine('0', 0, nullptr, 0) + badSum + S2Line(0xE0010, Bytes(16, 0x22)) +
                                      S2Line(0xE0008, Bytes(4, 0x33)) + SRecordLine('5', 7, nullptr, 0) +
                                      SRecordLine('8', 0xE0000, nullptr, 0));
    const std::string image = (dir.Path() / "out.img").string();
    const auto run = Flash({"--check", "--dump-image", image, path});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_FALSE(std::filesystem::exists(image));  // a failed check writes no image
    // The download path takes this file: the stages succeed.
    EXPECT_EQ(run.LastOutLine(), "Building output data... ");
    for (const std::string finding : {":2: checksum", ":4: data at 0xE0008 overlaps the record of line 2",
                                      ":5: S5 counts 7 data records, the file has 3"}) {
        EXPECT_NE(run.err.find(path + finding), std::string::npos) << run.err;
    }
    EXPECT_EQ(run.err.find(":3:"), std::string::npos) << run.err;
}

// An image or a record is written whole or not at all: on a full disk the
// old image and the log stay as they were.
TEST(KestrelFlashImage, AFullDiskLeavesTheOldImageAndTheLogAsTheyWere) {
    TempDir dir;
    const std::string old(4096, 'o');
    const std::string image = dir.Write("out.img", old);
    const std::string log = dir.Write("station.log", old);
    const ProcessOptions full{.fileSizeLimit = old.size() + 512};
    const auto dumped = Flash({"--dump-image", image, kMot}, full);
    EXPECT_EQ(dumped.exitStatus, 1);
    EXPECT_NE(dumped.err.find("cannot write " + image), std::string::npos) << dumped.err;
    const auto logged = Flash({"-q", "--emulate", "--log", log, kMot}, full);
    EXPECT_EQ(logged.exitStatus, 10) << logged.err;  // flashed, but the record is lost
    EXPECT_EQ(logged.LastOutLine(), "FLASHING SUCCESSFULL");
    EXPECT_EQ(ReadFile(image), old);
    EXPECT_EQ(ReadFile(log), old);
    const auto files = std::distance(std::filesystem::directory_iterator(dir.Path()), {});
    EXPECT_EQ(files, 2);  // no part of an image left behind
}

}  // namespace
}  // namespace kestrel::testing
