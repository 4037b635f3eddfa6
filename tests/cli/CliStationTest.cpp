// kestrel-flash on a production line: several boxes at once, JSON lines, the
// session log, and waiting for a box, as a line's script runs it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "CliSupport.h"
#include "station/JsonCheck.h"
#include "station/Sha256.h"

namespace kestrel::testing {
namespace {

std::string Sha256Of(const std::string& bytes) {
    return Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::string DumpedImageDigest(const TempDir& dir) {
    const std::string out = (dir.Path() / "dumped.img").string();
    EXPECT_EQ(Flash({"--dump-image", out, kMot}).exitStatus, 0);
    return Sha256Of(ReadFile(out));
}

TEST(KestrelFlashLine, TwoBoxesAtOnceOneRefusingEachLinePrefixedAndTheFirstFailureIsTheStatus) {
    BoxProcess good;
    BoxProcess refusing({"--refuse-at", "erase"});
    const auto run = Flash({"-q", "-p", good.linkPath, "-p", refusing.linkPath, kMot});
    EXPECT_EQ(run.exitStatus, 6) << run.out << run.err;

    std::map<std::string, Lines> byBox;  // "" for the lines of no box
    for (const auto& line : run.OutLines()) {
        std::string box;
        for (const auto& link : {good.linkPath, refusing.linkPath}) {
            if (line.rfind(link + ": ", 0) == 0)
                box = link;
        }
        byBox[box].push_back(box.empty() ? line : line.substr(box.size() + 2));
    }
    // The file is read and built once, before any box is opened.
    EXPECT_EQ(byBox[""], kPrepared);
    ASSERT_FALSE(byBox[good.linkPath].empty());
    EXPECT_EQ(byBox[good.linkPath].front(), "Opening interface... ");
    EXPECT_EQ(byBox[good.linkPath].back(), "FLASHING SUCCESSFULL");
    EXPECT_EQ(byBox[refusing.linkPath],
              (Lines{"Opening interface... ", "Waiting for synchronising ... ", "Writing datalength... ",
                     "Erasing flash... ", "Error: cannot erase flash"}));
    EXPECT_NE(run.err.find(refusing.linkPath + ": FAILED (box-refused)"), std::string::npos) << run.err;
    EXPECT_EQ(Sha256Of(good.SavedImage(1)), DumpedImageDigest(good.dir));
}

TEST(KestrelFlashLine, JsonLinesAndTheLogTellEachBoxsResultWithTheImagesDigestAlsoForARefusedFile) {
    BoxProcess boxes[2];
    TempDir dir;
    const std::string log = (dir.Path() / "line.log").string();
    const auto run = Flash({"-p", boxes[0].linkPath, "-p", boxes[1].linkPath, "--json", "--log", log, kMot});
    EXPECT_EQ(run.exitStatus, 0) << run.err;

    const std::string digest = DumpedImageDigest(dir);
    int results = 0;
    std::map<std::string, std::string> lastLine;
    for (const auto& line : run.OutLines()) {
        const auto fields = JsonCheck::Parse(line);
        ASSERT_TRUE(fields.has_value()) << line;
        const std::string port = fields->count("port") ? fields->at("port").text : "";
        if (fields->at("event").text == "status")
            lastLine[port] = fields->at("line").text;
        if (fields->at("event").text != "result")
            continue;
        ++results;
        EXPECT_FALSE(port.empty());
        EXPECT_EQ(fields->at("outcome").text, "success");
        EXPECT_DOUBLE_EQ(fields->at("exit").number, 0);
        EXPECT_EQ(fields->at("sha256").text, digest);
    }
    EXPECT_EQ(results, 2);
    EXPECT_EQ(lastLine[""], "Building output data... ");
    EXPECT_EQ(lastLine.size(), 3u);  // the shared preparation and two boxes

    // A file refused before any box was touched: each box still gets its record,
    // the file by its absolute path, its control characters escaped.
    const auto refusedFile = dir.Path() / "no\nsuch\x1b[2J.mot";
    const auto refused = Flash({"-q", "-p", boxes[0].linkPath, "-p", boxes[1].linkPath, "--log", log,
                                std::filesystem::relative(refusedFile).string()});
    EXPECT_EQ(refused.exitStatus, 4);
    const std::string text = ReadFile(log);
    const auto count = [&text](const std::string& part) {
        std::size_t found = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++found;
        return found;
    };
    EXPECT_EQ(count("=== "), 4u) << text;
    EXPECT_EQ(count("image: 131078 bytes, sha256 " + digest), 2u) << text;
    EXPECT_EQ(count("\"Building output data... \""), 2u) << text;  // the shared preparation in each record
    EXPECT_EQ(count("result: success, exit 0"), 2u) << text;
    EXPECT_EQ(count("file: " + (dir.Path() / "no\\nsuch\\x1B[2J.mot").string() + "\n"), 2u) << text;
    EXPECT_EQ(count("\"Error: cannot open sourcefile\""), 2u) << text;
    EXPECT_EQ(count("result: file-failed, exit 4"), 2u) << text;
}

TEST(KestrelFlashLine, WaitingForABoxThatNeverComesEndsAsALinkFailureAndPortListNeedsNoFile) {
    TempDir dir;
    const std::string missing = (dir.Path() / "box-not-plugged").string();
    const auto waited = Flash({"-p", missing, "--wait", "--wait-timeout", "0.5", kMot});
    EXPECT_EQ(waited.exitStatus, 3);
    EXPECT_EQ(waited.out, "");  // no download was begun
    EXPECT_NE(waited.err.find(missing + ": not there in time"), std::string::npos) << waited.err;

    // A box that is there already is flashed without delay.
    BoxProcess box;
    const auto found = Flash({"-q", "-p", box.linkPath, "--wait", "--repeat", "1", kMot});
    EXPECT_EQ(found.exitStatus, 0) << found.err;
    EXPECT_EQ(found.LastOutLine(), "FLASHING SUCCESSFULL");

    const auto listed = Flash({"--list-ports", "--json"});
    EXPECT_EQ(listed.exitStatus, 0);
    for (const auto& line : listed.OutLines())
        EXPECT_TRUE(JsonCheck::Parse(line).has_value()) << line;
}

}  // namespace
}  // namespace kestrel::testing
