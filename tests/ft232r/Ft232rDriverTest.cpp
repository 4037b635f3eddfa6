// kestrel-flash over USB through the real libftdi1 and FtdiUsbDriver, into FT232R
// chips modelled at the libusb level by a library preloaded into the process.
#include <ftdi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "cli/CliSupport.h"
#include "links/FtdiUsbDriver.h"

namespace kestrel::testing {
namespace {

// Boxes on USB for the processes this test starts, with their records and images in a TempDir.
class UsbBoxes {
public:
    explicit UsbBoxes(const std::string& serials, const std::string& scenario = "", bool paced = false) {
        Set("LD_PRELOAD", KESTREL_FT232R_MODEL);
        Set("KESTREL_FT232R_PACE", paced ? "1" : "0");
        Set("KESTREL_FT232R_BOXES", serials);
        Set("KESTREL_FT232R_SCENARIO", scenario);
        Set("KESTREL_FT232R_RECORD", (dir_.Path() / "%s.rec").string());
        Set("KESTREL_FT232R_SAVE_IMAGE", (dir_.Path() / "%s.img").string());
        // An instrumented kestrel-flash wants its runtime first, ahead of the model.
        const char* asan = std::getenv("ASAN_OPTIONS");
        Set("ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0");
    }
    ~UsbBoxes() {
        for (const auto& [name, old] : saved_)
            old ? ::setenv(name.c_str(), old->c_str(), 1) : ::unsetenv(name.c_str());
    }
    UsbBoxes(const UsbBoxes&) = delete;
    UsbBoxes& operator=(const UsbBoxes&) = delete;

    Lines Record(const std::string& serial) const {
        Lines lines;
        std::istringstream in(ReadFile((dir_.Path() / (serial + ".rec")).string()));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    Lines Syncs(const std::string& serial) const {
        Lines syncs = Record(serial);
        std::erase_if(syncs, [](const std::string& line) { return !line.starts_with("sync "); });
        return syncs;
    }
    // Every device the tool opened it closed again, however the download ended.
    bool AllClosed(const std::string& serial) const {
        const Lines lines = Record(serial);
        return std::count(lines.begin(), lines.end(), "open") == std::count(lines.begin(), lines.end(), "close");
    }
    std::string Image(const std::string& serial) const { return ReadFile((dir_.Path() / (serial + ".img")).string()); }

private:
    void Set(const std::string& name, const std::string& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }

    TempDir dir_;
    std::map<std::string, std::optional<std::string>> saved_;
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
        EXPECT_EQ(boxes.Syncs("KST-A"), Lines{Sync(c.baud)});
        EXPECT_TRUE(boxes.AllClosed("KST-A"));
    }
}

TEST(Ft232rDriverTest, PicksTheBoxesByIndexOrSerialAndFlashesAGang) {
    const std::string expected = Dumped(kMot);
    const Lines serials = {"KST-A", "KST-B", "KST-C"};
    {
        const UsbBoxes boxes("KST-A,KST-B,KST-C");
        const std::string listed = Flash({"--list-ports"}).out;
        for (const auto& serial : serials)
            EXPECT_NE(listed.find("USB:" + serial), std::string::npos) << listed;
    }
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
            EXPECT_EQ(boxes.Syncs(serial), flashed ? Lines{Sync("115385")} : Lines{}) << serial;
            EXPECT_TRUE(boxes.AllClosed(serial)) << serial;
        }
    }
}

TEST(Ft232rDriverTest, AVanishedRefusedOrBusyDeviceEndsWithItsErrorAndIsFreed) {
    constexpr double kAnswerBoundSeconds = 1;
    const struct {
        std::string scenario, port, lastLine, hint;
    } cases[] = {
        {"unplug-at-sync", "USB", "Error: ", ""},
        {"unplug-at-length", "USB", "Error: ", ""},
        {"unplug-at-erase", "USB", "Error: ", ""},
        {"unplug-at-data", "USB", "Error: ", ""},
        {"unplug-at-read-back", "USB", "Error: ", ""},
        {"access-denied", "USB", "Error: cannot open Ixo Serial Device", "this user may not open it"},
        {"access-denied", "USB:KST-A", "Error: cannot open Ixo Serial Device", "this user may not open it"},
        {"busy", "USB", "Error: cannot open Ixo Serial Device", "in use by another program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario + " " + c.port);
        const UsbBoxes boxes("KST-A", c.scenario);
        const ProcessResult result = Flash({"-q", "-p", c.port, "--timeout", "1", kMot});
        EXPECT_FALSE(result.timedOut);
        EXPECT_NE(result.exitStatus, 0);
        // Process start and the model's latency on a busy machine get a few seconds beyond the bound.
        EXPECT_LT(result.seconds, kAnswerBoundSeconds + 4);
        EXPECT_EQ(result.LastOutLine().substr(0, c.lastLine.size()), c.lastLine) << result.out;
        EXPECT_NE(result.err.find(c.hint), std::string::npos) << result.err;
        EXPECT_TRUE(boxes.AllClosed("KST-A"));
        const Lines record = boxes.Record("KST-A");
        EXPECT_EQ(std::count(record.begin(), record.end(), "unplugged"), c.scenario.starts_with("unplug") ? 1 : 0);
    }
}

// The model is linked into this program ahead of libusb: libftdi1's asynchronous
// calls, which the driver does not use, reach it as they would reach a chip.
TEST(Ft232rDriverTest, AnswersLibftdiAsynchronousTransfers) {
    const UsbBoxes boxes("KST-A");
    std::unique_ptr<ftdi_context, void (*)(ftdi_context*)> ftdi(ftdi_new(), ftdi_free);
    ASSERT_EQ(ftdi_usb_open_desc(ftdi.get(), 0x0403, 0x6001, nullptr, "KST-A"), 0);
    unsigned char sync = 0x2A;
    unsigned char answer = 0;
    EXPECT_EQ(ftdi_transfer_data_done(ftdi_write_data_submit(ftdi.get(), &sync, 1)), 1);
    EXPECT_EQ(ftdi_transfer_data_done(ftdi_read_data_submit(ftdi.get(), &answer, 1)), 1);
    EXPECT_EQ(answer, 0x01);  // the box's firmware type
    timeval wait{0, 1000};
    ftdi_transfer_data_cancel(ftdi_read_data_submit(ftdi.get(), &answer, 1), &wait);  // nothing more comes
    EXPECT_EQ(boxes.Syncs("KST-A").size(), 1U);
    ftdi_usb_close(ftdi.get());
    EXPECT_TRUE(boxes.AllClosed("KST-A"));
}

}  // namespace
}  // namespace kestrel::testing
