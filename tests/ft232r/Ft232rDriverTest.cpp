// kestrel-flash over USB through the real libftdi1 and FtdiUsbDriver, into FT232R
// chips modelled at the libusb level by a library preloaded into the process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "cli/CliSupport.h"
#include "links/FtdiUsbDriver.h"

namespace kestrel::testing {
namespace {

// Boxes on USB for the processes this test starts, with their records and
// images in a TempDir. Every test runs in a process of its own: what it sets
// in the environment stays there for the next boxes to set anew.
class UsbBoxes {
public:
    explicit UsbBoxes(const std::string& serials, const std::string& scenario = "", bool paced = false,
                      bool stalls = false) {
        ::setenv("LD_PRELOAD", KESTREL_FT232R_MODEL, 1);
        ::setenv("KESTREL_FT232R_PACE", paced ? "1" : "0", 1);
        ::setenv("KESTREL_FT232R_STALL", stalls ? "1" : "0", 1);
        ::setenv("KESTREL_FT232R_BOXES", serials.c_str(), 1);
        ::setenv("KESTREL_FT232R_SCENARIO", scenario.c_str(), 1);
        ::setenv("KESTREL_FT232R_RECORD", (dir_.Path() / "%s.rec").c_str(), 1);
        ::setenv("KESTREL_FT232R_SAVE_IMAGE", (dir_.Path() / "%s.img").c_str(), 1);
        // An instrumented kestrel-flash wants its runtime first, ahead of the model.
        const char* asan = std::getenv("ASAN_OPTIONS");
        static const std::string asanOptions = std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
        ::setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
    }

    // The lines of the box's record that begin with `what`: "open", "close", "sync ", "unplugged".
    Lines Record(const std::string& serial, const std::string& what) const {
        Lines lines;
        std::istringstream in(ReadFile((dir_.Path() / (serial + ".rec")).string()));
        for (std::string line; std::getline(in, line);)
            if (line.starts_with(what))
                lines.push_back(line);
        return lines;
    }
    // Every device the tool opened it closed again, however the download ended,
    // and gave it back to the kernel's driver, so the box's tty is there again.
    bool AllClosed(const std::string& serial) const {
        return Record(serial, "open").size() == Record(serial, "close").size() &&
               Record(serial, "close tty-gone").empty();
    }
    std::string Image(const std::string& serial) const { return ReadFile((dir_.Path() / (serial + ".img")).string()); }

private:
    TempDir dir_;
};

std::string Dumped(const std::string& file) {
    const TempDir dir;
    const std::string out = (dir.Path() / "image").string();
    Flash({file, "--dump-image", out});
    return ReadFile(out);
}

// What a box saw at the sync request. The chip's rates: 3 MHz / 26 for 115200, 3 MHz / 78.125 for 38400.
std::string Sync(const std::string& baud) {
    return "sync " + baud + " 8N2 flow=none dtr=0 rts=1 latency=" + std::to_string(FtdiUsbDriver::kLatencyTimerMs) +
           " purged";
}

TEST(Ft232rDriverTest, FlashesBothSamplesWithTheBoxLineSettings) {
    // The binary image also at the line's own pace: about 1.2 s at 38400 baud.
    const struct {
        std::string file, scenario, baud;
        bool paced;
    } cases[] = {{kMot, "", "115385", false}, {kBin, "type2", "38400", false}, {kBin, "type2", "38400", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + (c.paced ? " paced" : ""));
        const std::string expected = Dumped(c.file);
        const UsbBoxes boxes("KST-A", c.scenario, c.paced);
        const ProcessResult result = Flash({"-q", "-p", "USB", c.file});
        EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
        EXPECT_EQ(result.LastOutLine(), "FLASHING SUCCESSFULL");
        EXPECT_TRUE(!expected.empty() && boxes.Image("KST-A") == expected);
        EXPECT_EQ(boxes.Record("KST-A", "sync "), Lines{Sync(c.baud)});
        EXPECT_TRUE(boxes.AllClosed("KST-A"));
    }
}

// A process the system does not run for up to 150 ms, again and again during
// the read-back, loses no byte: the reads stay queued in the kernel meanwhile.
TEST(Ft232rDriverTest, TheReadBackSurvivesTheProcessNotBeingRun) {
    const UsbBoxes boxes("KST-A", "", true, true);
    const ProcessResult result = Flash({"-q", "-p", "USB", kMot}, {.deadline = std::chrono::seconds(60)});
    EXPECT_EQ(result.LastOutLine(), "FLASHING SUCCESSFULL") << result.err;
    EXPECT_GT(boxes.Record("KST-A", "held ").size(), 10U);
    EXPECT_EQ(boxes.Record("KST-A", "lost "), Lines{});
    EXPECT_TRUE(boxes.AllClosed("KST-A"));
}

TEST(Ft232rDriverTest, PicksTheBoxesByIndexOrSerialAndFlashesAGang) {
    const std::string expected = Dumped(kMot);
    const Lines serials = {"KST-A", "KST-B", "KST-C"};
    const UsbBoxes listed("KST-A,KST-B,KST-C");
    const std::string ports = Flash({"--list-ports"}).out;
    for (const auto& serial : serials)
        EXPECT_NE(ports.find("USB:" + serial), std::string::npos) << ports;
    const struct {
        Lines ports, flashed;
    } cases[] = {
        {{"USB:1"}, {"KST-B"}}, {{"USB:KST-C"}, {"KST-C"}}, {{"USB:KST-A", "USB:KST-B", "USB:KST-C"}, serials}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ports.back());
        const UsbBoxes boxes("KST-A,KST-B,KST-C");
        Lines args = {"-q", kMot};
        for (const auto& port : c.ports)
            args.insert(args.end(), {"-p", port});
        const ProcessResult result = Flash(args);
        EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
        for (const auto& serial : serials) {
            const bool flashed = std::find(c.flashed.begin(), c.flashed.end(), serial) != c.flashed.end();
            EXPECT_EQ(boxes.Image(serial) == expected, flashed) << serial;
            EXPECT_EQ(boxes.Record(serial, "sync "), flashed ? Lines{Sync("115385")} : Lines{}) << serial;
            EXPECT_TRUE(boxes.AllClosed(serial)) << serial;
        }
    }
}

TEST(Ft232rDriverTest, AVanishedRefusedOrBusyDeviceEndsWithItsErrorAndIsFreed) {
    const struct {
        std::string scenario, port, hint;  // no hint: the device vanished during the download
    } cases[] = {
        {"unplug-at-sync", "USB", ""},
        {"unplug-at-length", "USB", ""},
        {"unplug-at-erase", "USB", ""},
        {"unplug-at-data", "USB", ""},
        {"unplug-at-read-back", "USB", ""},
        {"access-denied", "USB", "this user may not open it"},
        {"access-denied", "USB:KST-A", "this user may not open it"},
        {"busy", "USB", "in use by another program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario + " " + c.port);
        const UsbBoxes boxes("KST-A", c.scenario);
        const ProcessResult result = Flash({"-q", "-p", c.port, "--timeout", "1", kMot});
        EXPECT_FALSE(result.timedOut);
        EXPECT_NE(result.exitStatus, 0);
        // The answer bound of 1 s, and a few seconds for the process start and the model on a busy machine.
        EXPECT_LT(result.seconds, 5);
        const std::string lastLine = c.hint.empty() ? "Error: " : "Error: cannot open Ixo Serial Device";
        EXPECT_EQ(result.LastOutLine().substr(0, lastLine.size()), lastLine) << result.out;
        EXPECT_NE(result.err.find(c.hint), std::string::npos) << result.err;
        EXPECT_TRUE(boxes.AllClosed("KST-A"));
        EXPECT_EQ(boxes.Record("KST-A", "unplugged").size(), c.hint.empty() ? 1U : 0U);
    }
}

}  // namespace
}  // namespace kestrel::testing
