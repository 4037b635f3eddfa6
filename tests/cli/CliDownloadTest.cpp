// kestrel-flash against kestrel-box over real pseudo-terminals, as a user with
// a box on a serial port, or a production line with several, runs it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "CliSupport.h"
#include "station/JsonCheck.h"
#include "station/Sha256.h"

namespace kestrel::testing {
namespace {

// The image the box should receive from the demo .mot, as --dump-image writes it.
const std::string& DumpedImage() {
    static const std::string image = [] {
        const TempDir dir;
        const std::string out = (dir.Path() / "dumped.img").string();
        EXPECT_EQ(Flash({"--dump-image", out, kMot}).exitStatus, 0);
        return ReadFile(out);
    }();
    return image;
}

std::string Sha256Of(const std::string& bytes) {
    return Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(KestrelFlashDownload, FlashesBothKindsIntoTheBoxAtTheirLineSettings) {
    BoxProcess box;
    // A second box refuses to take the first one's link over; the download below goes to the first.
    const auto second = RunProcess({KESTREL_BOX, "--link", box.linkPath});
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_NE(second.err.find(box.linkPath + " exists already"), std::string::npos) << second.err;
    // A box that is there already is flashed without delay.
    const auto motRun = Flash({"-q", "-p", box.linkPath, "--wait", kMot});
    EXPECT_EQ(motRun.exitStatus, 0) << motRun.out << motRun.err;
    Lines flashed = {"Opening interface... "};
    flashed.insert(flashed.end(), kPrepared.begin(), kPrepared.end());
    flashed.insert(flashed.end(), {"Waiting for synchronising ... ", "Writing datalength... ", "Erasing flash... ",
                                   "Writing data... ", "Reading data... ", "Verify data...", "FLASHING SUCCESSFULL"});
    EXPECT_EQ(motRun.OutLines(), flashed);
    EXPECT_EQ(motRun.err, "");  // --quiet
    EXPECT_EQ(box.SavedImage(1), DumpedImage());
    EXPECT_TRUE(PortOpensAgain(box.linkPath));

    // The box of a binary image announces type 2, which `box` does not: a second box serves it.
    BoxProcess typeTwo({"--type", "2"});
    const auto binRun = Flash({"-p", typeTwo.linkPath, kBin});
    EXPECT_EQ(binRun.LastOutLine(), "FLASHING SUCCESSFULL") << binRun.err;
    EXPECT_EQ(binRun.out.find("Reading data... "), std::string::npos);  // no read-back for a binary image
    // Its data follow the 30 header bytes.
    EXPECT_NE(binRun.err.find("Writing data 4096/4096 bytes 100%"), std::string::npos) << binRun.err;
    EXPECT_EQ(typeTwo.SavedImage(1), ReadFile(kBin));
    EXPECT_TRUE(PortOpensAgain(typeTwo.linkPath));
    EXPECT_NE(box.Stop().find("line 115200 baud, 8N2"), std::string::npos);
    EXPECT_NE(typeTwo.Stop().find("line 38400 baud, 8N2"), std::string::npos);  // reopened before its header
}

TEST(KestrelFlashDownload, TwoBoxesAtOnceOneRefusingEachLinePrefixedAndTheFirstFailureIsTheStatus) {
    BoxProcess good, refusing({"--refuse-at", "erase"});
    const auto run = Flash({"-q", "-p", good.linkPath, "-p", refusing.linkPath, kMot});
    EXPECT_EQ(run.exitStatus, 6) << run.out << run.err;
    std::map<std::string, Lines> byBox;  // "" for the lines of no box
    for (const auto& line : run.OutLines()) {
        std::string box;
        for (const auto& link : {good.linkPath, refusing.linkPath}) {
            if (line.starts_with(link + ": "))
                box = link;
        }
        byBox[box].push_back(box.empty() ? line : line.substr(box.size() + 2));
    }
    EXPECT_EQ(byBox[""], kPrepared);  // the file is read and built once, before any box is opened
    ASSERT_FALSE(byBox[good.linkPath].empty());
    EXPECT_EQ(byBox[good.linkPath].front(), "Opening interface... ");
    EXPECT_EQ(byBox[good.linkPath].back(), "FLASHING SUCCESSFULL");
    EXPECT_EQ(byBox[refusing.linkPath],
              (Lines{"Opening interface... ", "Waiting for synchronising ... ", "Writing datalength... ",
                     "Erasing flash... ", "Error: cannot erase flash"}));
    EXPECT_NE(run.err.find(refusing.linkPath + ": FAILED (box-refused)"), std::string::npos) << run.err;
    EXPECT_EQ(good.SavedImage(1), DumpedImage());
}

TEST(KestrelFlashDownload, JsonLinesAndTheLogTellEachBoxsResultWithTheImagesDigestAlsoForARefusedFile) {
    BoxProcess boxes[2];
    TempDir dir;
    const std::string log = (dir.Path() / "line.log").string(), digest = Sha256Of(DumpedImage());
    const auto run = Flash({"-p", boxes[0].linkPath, "-p", boxes[1].linkPath, "--json", "--log", log, kMot});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    std::map<std::string, std::string> lastLine;  // of each port, "" for the shared preparation
    for (const auto& line : run.OutLines()) {
        const auto fields = JsonCheck::Parse(line);
        ASSERT_TRUE(fields.has_value()) << line;
        const std::string port = fields->count("port") ? fields->at("port").text : "";
        const std::string event = fields->at("event").text;
        if (event == "status")
            lastLine[port] = fields->at("line").text;
        if (event == "result")
            lastLine[port] = fields->at("outcome").text + " " + fields->at("sha256").text;
    }
    EXPECT_EQ(lastLine, (std::map<std::string, std::string>{{"", "Building output data... "},
                                                            {boxes[0].linkPath, "success " + digest},
                                                            {boxes[1].linkPath, "success " + digest}}));

    // A file refused before any box was touched: each box still gets its record,
    // the file by its absolute path, its control characters escaped.
    const auto refusedFile = dir.Path() / "no\nsuch\x1b[2J.mot";
    const auto refused = Flash({"-q", "-p", boxes[0].linkPath, "-p", boxes[1].linkPath, "--log", log,
                                std::filesystem::relative(refusedFile).string()});
    EXPECT_EQ(refused.exitStatus, 4);
    const std::string text = ReadFile(log);
    for (const std::string& part :
         Lines{"image: 131078 bytes, sha256 " + digest, "\"Building output data... \"", "result: success, exit 0",
               "file: " + (dir.Path() / "no\\nsuch\\x1B[2J.mot").string() + "\n", "\"Error: cannot open sourcefile\"",
               "result: file-failed, exit 4"}) {
        std::size_t found = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++found;
        EXPECT_EQ(found, 2u) << part << "\n" << text;  // once for each box
    }
}

}  // namespace
}  // namespace kestrel::testing
