// kestrel-flash against kestrel-box over a real pseudo-terminal, as a user
// with a box on a serial port would run it, and against its own emulated box.
#include <gtest/gtest.h>

#include "CliSupport.h"

namespace kestrel::testing {
namespace {

TEST(KestrelFlashDownload, FlashesBothKindsIntoTheBoxAtTheirLineSettings) {
    BoxProcess box;
    ASSERT_FALSE(box.device.empty());
    // A second box refuses to take the first one's link over; the download below goes to the first.
    int out = -1;
    const std::string secondErr = (box.dir.Path() / "second.err").string();
    const pid_t second = Spawn({KESTREL_BOX, "--link", box.linkPath}, out, secondErr);
    EXPECT_EQ(ExitStatusOf(second), 1);
    ::close(out);
    EXPECT_NE(ReadFile(secondErr).find(box.linkPath + " exists already"), std::string::npos) << ReadFile(secondErr);
    const auto motRun = Flash({"-q", "-p", box.linkPath, kMot});
    EXPECT_EQ(motRun.exitStatus, 0) << motRun.out << motRun.err;
    Lines flashed = {"Opening interface... "};
    flashed.insert(flashed.end(), kPrepared.begin(), kPrepared.end());
    flashed.insert(flashed.end(), {"Waiting for synchronising ... ", "Writing datalength... ", "Erasing flash... ",
                                   "Writing data... ", "Reading data... ", "Verify data...", "FLASHING SUCCESSFULL"});
    EXPECT_EQ(motRun.OutLines(), flashed);
    EXPECT_EQ(motRun.err, "");  // --quiet
    const std::string dumped = (box.dir.Path() / "dumped.img").string();
    EXPECT_EQ(Flash({"--dump-image", dumped, kMot}).exitStatus, 0);
    EXPECT_EQ(box.SavedImage(1), ReadFile(dumped));
    EXPECT_TRUE(PortOpensAgain(box.linkPath));

    // The box of a binary image announces type 2, which `box` does not:
    // a second box serves that download.
    BoxProcess typeTwo({"--type", "2"});
    const auto binRun = Flash({"-p", typeTwo.linkPath, kBin});
    EXPECT_EQ(binRun.exitStatus, 0) << binRun.out << binRun.err;
    EXPECT_EQ(binRun.LastOutLine(), "FLASHING SUCCESSFULL");
    EXPECT_EQ(binRun.out.find("Reading data... "), std::string::npos);  // no read-back for a binary image
    // Its data follow the 30 header bytes.
    EXPECT_NE(binRun.err.find("Writing data 4096/4096 bytes 100%"), std::string::npos) << binRun.err;
    EXPECT_EQ(typeTwo.SavedImage(1), ReadFile(kBin));
    EXPECT_TRUE(PortOpensAgain(typeTwo.linkPath));

    const std::string motSeen = box.Stop();
    EXPECT_NE(motSeen.find("line 115200 baud, 8N2"), std::string::npos) << motSeen;
    const std::string binSeen = typeTwo.Stop();
    // The binary image is reopened at 38400 before its header.
    EXPECT_NE(binSeen.find("line 38400 baud, 8N2"), std::string::npos) << binSeen;
}

// CI machines have no box: the real USB driver finds none and says so at once.
TEST(KestrelFlashDownload, UsbWithoutABoxEndsAtTheOpenWithAHint) {
    const auto run = Flash({"-q", "-p", "USB", kMot});
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(run.OutLines(), (Lines{"Opening interface... ", "Error: cannot open Ixo Serial Device"}));
    EXPECT_LT(run.seconds, 5.0);
    EXPECT_NE(run.err.find("kestrel-flash: "), std::string::npos) << run.err;
}

TEST(KestrelFlashDownload, EmulatedBoxesServeBothKindsOverEitherLinkAndTheirFaultsReachTheStatus) {
    const std::vector<std::tuple<std::string, std::string, int, std::string>> runs = {
        {"--emulate", kMot, 0, "FLASHING SUCCESSFULL"},
        {"--emulate", kBin, 0, "FLASHING SUCCESSFULL"},
        {"--emulate=usb", kMot, 0, "FLASHING SUCCESSFULL"},
        {"--emulate=usb", kBin, 0, "FLASHING SUCCESSFULL"},
        {"--emulate=refuse-erase", kMot, 6, "Error: cannot erase flash"},
        {"--emulate=corrupt-read-back", kMot, 8, "Error: data verify"},
    };
    for (const auto& [scenario, file, status, lastLine] : runs) {
        SCOPED_TRACE(scenario + " " + file);
        const auto run = Flash({"-q", scenario, file});
        EXPECT_EQ(run.exitStatus, status) << run.out;
        EXPECT_EQ(run.LastOutLine(), lastLine);
    }
}

}  // namespace
}  // namespace kestrel::testing
