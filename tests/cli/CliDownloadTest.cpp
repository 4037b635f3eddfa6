// kestrel-flash against kestrel-box over real pseudo-terminals, as a user with
// a box on a serial port, or a production line with several, runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "CliSupport.h"
#include "station/StationTestSupport.h"

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

TEST(KestrelFlashDownload, FlashesBothKindsIntoTheBoxAtTheirLineSettings) {
    BoxProcess box;
    // A second box refuses to take the first one's link over; the download below goes to the first.
    const auto second = RunProcess({KESTREL_BOX, "--link", box.linkPath});
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_NE(second.err.find(box.linkPath + " exists already"), std::string::npos) << second.err;
    // A box that is there already is flashed without delay.
    const auto motRun = Flash({"-q", "-p", box.linkPath, "--wait", kMot});
    EXPECT_EQ(motRun.exitStatus, 0) << motRun.out << motRun.err;
    Lines flashed = {kFlashed.front()};  // the file is read once the link is open
    flashed.insert(flashed.end(), kPrepared.begin(), kPrepared.end());
    flashed.insert(flashed.end(), kFlashed.begin() + 1, kFlashed.end());
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

TEST(KestrelFlashDownload, AGangReportsEachBoxByItsPortAsTextJsonAndInTheLogAlsoWhenItsFileIsRefused) {
    BoxProcess good, refusing({"--refuse-at", "erase"});
    TempDir dir;
    const std::string log = (dir.Path() / "line.log").string();
    const auto run = Flash({"-q", "-p", good.linkPath, "-p", refusing.linkPath, "--log", log, kMot});
    EXPECT_EQ(run.exitStatus, 6) << run.out << run.err;  // the first failure's class
    const Lines lines = run.OutLines();
    const auto linesOf = [&lines](const std::string& port) {
        Lines mine;
        for (const auto& line : lines) {
            if (line.starts_with(port + ": "))
                mine.push_back(line.substr(port.size() + 2));
        }
        return mine;
    };
    // The file is read and built once, before any box is opened.
    EXPECT_TRUE(lines.size() > kPrepared.size() && std::equal(kPrepared.begin(), kPrepared.end(), lines.begin()));
    EXPECT_EQ(linesOf(good.linkPath), kFlashed);
    EXPECT_EQ(linesOf(refusing.linkPath),
              (Lines{"Opening interface... ", "Waiting for synchronising ... ", "Writing datalength... ",
                     "Erasing flash... ", "Error: cannot erase flash"}));
    EXPECT_NE(run.err.find(refusing.linkPath + ": FAILED (box-refused)"), std::string::npos) << run.err;
    EXPECT_EQ(good.SavedImage(1), DumpedImage());
    // As JSON lines, each box's result carries its port and the image's digest.
    const std::string digest = Sha256Of(DumpedImage());
    std::map<std::string, std::string> results;
    for (const auto& object :
         ParseJsonLines(Flash({"--json", "-p", good.linkPath, "-p", refusing.linkPath, kMot}).OutLines())) {
        if (object.at("event") == "result")
            results[object.value("port", "")] =
                object.at("outcome").get<std::string>() + " " + object.at("sha256").get<std::string>();
    }
    EXPECT_EQ(results, (std::map<std::string, std::string>{{good.linkPath, "success " + digest},
                                                           {refusing.linkPath, "box-refused " + digest}}));

    // A file refused before any box was touched: each box still gets its record,
    // the file by its absolute path; the JSON lines end with the result.
    const auto missing = dir.Path() / "missing.mot";
    const auto refused = Flash({"--json", "-p", good.linkPath, "-p", refusing.linkPath, "--log", log,
                                std::filesystem::relative(missing).string()});
    EXPECT_EQ(refused.exitStatus, 4);
    const auto objects = ParseJsonLines(refused.OutLines());
    EXPECT_TRUE(!objects.empty() && objects.back().at("outcome") == "file-failed") << refused.out;
    const std::string text = ReadFile(log);
    for (const auto& [part, times] : std::vector<std::pair<std::string, int>>{
             {"image: 131078 bytes, sha256 " + digest, 2},
             {"\"Building output data... \"", 2},  // each box's record keeps the shared preparation
             {"result: success, exit 0", 1},
             {"result: box-refused, exit 6", 1},
             {"file: " + missing.string() + "\n", 2},
             {"result: file-failed, exit 4", 2}}) {
        int found = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++found;
        EXPECT_EQ(found, times) << part << "\n" << text;
    }
}

}  // namespace
}  // namespace kestrel::testing
