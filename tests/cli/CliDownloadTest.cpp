// kestrel-flash against kestrel-box over a real pseudo-terminal, as a user
// with a box on a serial port would run it.
#include <gtest/gtest.h>


#include "BoxProcess.h"
#include "CliPaths.h"

namespace kestrel::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;


Bytes DumpedImage(const TempDir& dir, const std::string& firmware) {
    const std::string out = (dir.Path() / "dumped.img").string();
    EXPECT_EQ(RunProcess({kFlash, "--dump-image", out, firmware}).exitStatus, 0);
    return ReadFile(out);
}

TEST(KestrelFlashDownload, FlashesBothKindsIntoTheBoxAtTheirLineSettings) {
    BoxProcess box;
    ASSERT_FALSE(box.process.FirstLine().empty());

    const std::string mot = kSamples + "/kestrel-demo.mot";
    const auto motRun = RunProcess({kFlash, "-q", "-p", box.linkPath, mot});
    EXPECT_EQ(motRun.exitStatus, 0) << motRun.out << motRun.err;
    EXPECT_EQ(motRun.OutLines(),
              (std::vector<std::string>{"Opening interface... ", "Loading sourcefile... ", "Analysing sourcefile... ",
                                        "270 lines interpreted", "Building output data... ",
                                        "Waiting for synchronising ... ", "Writing datalength... ",
                                        "Erasing flash... ", "Writing data... ", "Reading data... ", "Verify data...",
                                        "FLASHING SUCCESSFULL"}));
    EXPECT_EQ(motRun.err, "");  // --quiet
    EXPECT_EQ(ReadFile(box.SavedImage(1)), DumpedImage(box.dir, mot));
    EXPECT_TRUE(PortOpensAgain(box.linkPath));

    // The box of a binary image announces type 2, which box.process does not:
    // a second box serves that download.
    BoxProcess typeTwo({"--type", "2"});
    const std::string bin = kSamples + "/kestrel-demo.bin";
    const auto binRun = RunProcess({kFlash, "-p", typeTwo.linkPath, bin});
    EXPECT_EQ(binRun.exitStatus, 0) << binRun.out << binRun.err;
    EXPECT_EQ(binRun.LastOutLine(), "FLASHING SUCCESSFULL");
    EXPECT_EQ(binRun.out.find("Reading data... "), std::string::npos);  // no read-back for a binary image; its data follow the 30 header bytes
    EXPECT_NE(binRun.err.find("Writing data 4096/4096 bytes 100%"), std::string::npos) << binRun.err;
    EXPECT_EQ(ReadFile(typeTwo.SavedImage(1)), ReadFile(bin));

    const std::string motSeen = box.process.Stop();
    EXPECT_NE(motSeen.find("line 115200 baud, 8N2"), std::string::npos) << motSeen;
    const std::string binSeen = typeTwo.process.Stop();
    // The binary image is reopened at 38400 before its header.
    EXPECT_NE(binSeen.find("line 38400 baud, 8N2"), std::string::npos) << binSeen;
}

TEST(KestrelFlashDownload, APortHeldByAnotherProgramIsRefusedAndFreeAfterwards) {
    BoxProcess box;
    const std::string mot = kSamples + "/kestrel-demo.mot";
    {
        SerialLink holder;
        ASSERT_TRUE(holder.Open(box.linkPath, 115200, 0, 2, 8)) << holder.OpenError();
        const auto refused = RunProcess({kFlash, "-q", "-p", box.linkPath, mot});
        EXPECT_EQ(refused.exitStatus, 3);
        EXPECT_EQ(refused.OutLines(), (std::vector<std::string>{"Opening interface... ", "Error: cannot open comport"}));
    }
    const auto flashed = RunProcess({kFlash, "-q", "-p", box.linkPath, mot});
    EXPECT_EQ(flashed.exitStatus, 0) << flashed.out;
}

// CI machines have no box: the real USB driver finds none and says so at once.
TEST(KestrelFlashDownload, UsbWithoutABoxEndsAtTheOpenWithAHint) {
    const auto run = RunProcess({kFlash, "-q", "-p", "USB", kSamples + "/kestrel-demo.mot"});
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(run.OutLines(), (std::vector<std::string>{"Opening interface... ", "Error: cannot open Ixo Serial Device"}));
    EXPECT_LT(run.seconds, 5.0);
    EXPECT_NE(run.err.find("kestrel-flash: "), std::string::npos) << run.err;
}

TEST(KestrelFlashDownload, EmulatedBoxesServeBothKindsOverEitherLink) {
    for (const std::string scenario : {"--emulate", "--emulate=usb"}) {
        for (const std::string file : {"kestrel-demo.mot", "kestrel-demo.bin"}) {
            const auto run = RunProcess({kFlash, "-q", scenario, kSamples + "/" + file});
            EXPECT_EQ(run.exitStatus, 0) << scenario << ' ' << file << '\n' << run.out;
            EXPECT_EQ(run.LastOutLine(), "FLASHING SUCCESSFULL") << scenario << ' ' << file;
        }
    }
    // A scenario's fault reaches the front end with its line and status.
    const auto refused = RunProcess({kFlash, "-q", "--emulate=refuse-erase", kSamples + "/kestrel-demo.mot"});
    EXPECT_EQ(refused.exitStatus, 6);
    EXPECT_EQ(refused.LastOutLine().rfind("Error: ", 0), 0u) << refused.out;
    const auto differs = RunProcess({kFlash, "-q", "--emulate=corrupt-read-back", kSamples + "/kestrel-demo.mot"});
    EXPECT_EQ(differs.exitStatus, 8);
    EXPECT_EQ(differs.LastOutLine(), "Error: data verify");
}

}  // namespace
}  // namespace kestrel::testing
