// kestrel-flash over USB through the real libftdi1 and FtdiUsbDriver, into FT232R
// chips modelled at the libusb level by a library preloaded into the process:
// faults at exact bytes, which the virtual-machine rig (tests/vm) cannot place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "cli/CliSupport.h"

namespace kestrel::testing {
namespace {

// Boxes on USB for the processes this test starts, with their records in a
// TempDir. Every test runs in a process of its own: what it sets
// in the environment stays there for the next boxes to set anew.
class UsbBoxes {
public:
    explicit UsbBoxes(const std::string& serials, const std::string& scenario = "") {
        ::setenv("LD_PRELOAD", KESTREL_FT232R_MODEL, 1);
        ::setenv("KESTREL_FT232R_PACE", "0", 1);
        ::setenv("KESTREL_FT232R_STALL", "0", 1);
        ::setenv("KESTREL_FT232R_BOXES", serials.c_str(), 1);
        ::setenv("KESTREL_FT232R_SCENARIO", scenario.c_str(), 1);
        ::setenv("KESTREL_FT232R_RECORD", (dir_.Path() / "%s.rec").c_str(), 1);
        // An instrumented kestrel-flash wants its runtime first, ahead of the model.
        const char* asan = std::getenv("ASAN_OPTIONS");
        static const std::string asanOptions = std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
        ::setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
    }

    // How many lines of the box's record begin with `what`: "open", "close", "unplugged".
    long Count(const std::string& serial, const std::string& what) const {
        return std::ranges::count_if(SplitLines(ReadFile((dir_.Path() / (serial + ".rec")).string())),
                                     [&what](const std::string& line) { return line.starts_with(what); });
    }
    // Every device the tool opened it closed again, however the download ended,
    // and gave it back to the kernel's driver, so the box's tty is there again.
    bool AllClosed(const std::string& serial) const {
        return Count(serial, "open") == Count(serial, "close") && Count(serial, "close tty-gone") == 0;
    }

private:
    TempDir dir_;
};

TEST(Ft232rDriverTest, AVanishedRefusedOrBusyDeviceEndsWithItsErrorAndIsFreed) {
    struct Case {
        std::string scenario, port, hint;  // no hint: the device vanished during the download
    };
    std::vector<Case> cases = {{"access-denied", "USB", "this user may not open it"},
                               {"access-denied", "USB:KST-A", "this user may not open it"},
                               {"busy", "USB", "in use by another program"}};
    for (const std::string stage : {"sync", "length", "erase", "data", "read-back"})
        cases.push_back({"unplug-at-" + stage, "USB", ""});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario + " " + c.port);
        const UsbBoxes boxes("KST-A", c.scenario);
        // The answer bound of 1 s and the start on a busy machine, short of the 20 s of a synchronisation:
        // a run still going at 10 s has failed, and ends there.
        const ProcessResult result =
            Flash({"-q", "-p", c.port, "--timeout", "1", kMot}, {.deadline = std::chrono::seconds(10)});
        EXPECT_FALSE(result.timedOut);
        EXPECT_NE(result.exitStatus, 0);
        const std::string lastLine = c.hint.empty() ? "Error: " : "Error: cannot open Ixo Serial Device";
        EXPECT_EQ(result.LastOutLine().substr(0, lastLine.size()), lastLine) << result.out;
        EXPECT_NE(result.err.find(c.hint), std::string::npos) << result.err;
        EXPECT_TRUE(boxes.AllClosed("KST-A"));
        EXPECT_EQ(boxes.Count("KST-A", "unplugged"), c.hint.empty() ? 1 : 0);
        if (HasFailure())
            return;  // a broken download fails the cases after it alike
    }
}

// A serial number that two boxes share names neither, and the listing says so; one that no box has is refused
// naming the boxes there.
TEST(Ft232rDriverTest, ASerialNumberOfTwoBoxesOrOfNoneOpensNothingAndNamesTheBoxesThere) {
    const UsbBoxes boxes("KST1,KST1,KST2");
    for (const auto& [port, hint] : std::vector<std::pair<std::string, std::string>>{
             {"USB:KST1",
              "2 boxes share the serial number KST1, so USB:KST1 names none of them: name one by its index "
              "(USB:0, USB:1)"},
             {"USB:KST9", "no box with the serial number KST9 is attached; attached: USB:0, USB:1, USB:KST2"}}) {
        const ProcessResult result = Flash({"-q", "-p", port, kMot}, {.deadline = std::chrono::seconds(10)});
        EXPECT_EQ(result.exitStatus, 3) << port;
        EXPECT_NE(result.err.find(hint), std::string::npos) << result.err;
    }
    EXPECT_NE(Flash({"--list-ports"})
                  .out.find("\nUSB:1 (USB index 1)  USB 0403:6001 FT232R USB UART, serial KST1 (shared "
                            "with another box: named by its index)\nUSB:KST2 "),
              std::string::npos);
}

}  // namespace
}  // namespace kestrel::testing
