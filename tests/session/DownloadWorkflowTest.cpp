#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "SessionTestFirmware.h"
#include "emulator/BoxServer.h"
#include "session/DownloadWorkflow.h"
#include "support/SimulatedBox.h"
#include "support/TempDir.h"

// Whole downloads: every outcome with every line the user sees, and the link
// free again afterwards whatever the outcome.
namespace kestrel::testing {
namespace {

using emulator::BoxBehaviour;
using emulator::BoxStage;
using Lines = std::vector<std::string>;

const Lines kPrepared = {"Opening interface... ", "Loading sourcefile... ", "Analysing sourcefile... ",
                         "16 lines interpreted", "Building output data... "};
const Lines kBinPrepared = {"Opening interface... ", "Loading sourcefile... ", "Analysing sourcefile... ",
                            "3 lines interpreted", "Building output data... "};
const Lines kFlashed = {"Waiting for synchronising ... ", "Writing datalength... ", "Erasing flash... ",
                        "Writing data... "};

Lines Join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The same device opens again at once: the download closed it.
bool DeviceFreeAgain(SimulatedBox& box) {
    RecordingStatusList status;
    DataConverter session(status, box.Options());
    return session.OpenInterface("USB", 115200) == 0;
}

struct Firmware {
    TempDir dir;
    std::string mot = dir.Write("firmware.mot", WriteSRecordFile(SampleBlocks()));
    std::string bin = dir.Write("image.bin", BinImage(500));  // 256 + 256 + 18 bytes
    std::string misplaced = dir.Write("misplaced.mot", WriteSRecordFile({{kWindowStart + 0x100, Pattern(64, 5)}}));
    std::string unsupported = dir.Write("s1.mot", SRecordLine('0', 0, nullptr, 0) + SRecordLine('1', 0, nullptr, 0));
    std::string unknown = dir.Write("firmware.hex", WriteSRecordFile(SampleBlocks()));
    std::string missing = (dir.Path() / "missing.mot").string();
};

TEST(RunDownload, EachOutcomeWithItsLines) {
    Firmware files;
    struct Case {
        std::string name;
        std::string link;
        std::string file;
        BoxBehaviour behaviour;
        DownloadOutcome outcome;
        Lines lines;
        bool cancel = false;
        bool boxPresent = true;
    };
    const std::vector<Case> cases = {
        {"S-record file, read back and matched", "USB", files.mot, {}, DownloadOutcome::Success,
         Join({kPrepared, kFlashed, {"Reading data... ", "Verify data...", "FLASHING SUCCESSFULL"}})},
        {"S-record file, no read-back", "usb", files.mot, {.readBack = false}, DownloadOutcome::Success,
         Join({kPrepared, kFlashed, {"FLASHING SUCCESSFULL"}})},
        {"binary image, no read-back", "USB", files.bin, {.firmwareType = 2}, DownloadOutcome::Success,
         Join({kBinPrepared,
               {"Waiting for synchronising ... ", "Writing header... ", "Erasing flash... ", "Writing data... ",
                "FLASHING SUCCESSFULL"}})},
        {"no link of that name", "LPT1", files.mot, {}, DownloadOutcome::LinkFailed,
         {"Opening interface... ", "Error: unknown interface"}},
        {"no USB device", "USB", files.mot, {}, DownloadOutcome::LinkFailed,
         {"Opening interface... ", "Error: cannot open Ixo Serial Device"}, false, false},
        {"missing file", "USB", files.missing, {}, DownloadOutcome::FileFailed,
         {"Opening interface... ", "Loading sourcefile... ", "Error: cannot open sourcefile"}},
        {"unknown kind of file", "USB", files.unknown, {}, DownloadOutcome::FileFailed,
         {"Opening interface... ", "Loading sourcefile... ", "Error: unknown sourcefile"}},
        {"unsupported record type", "USB", files.unsupported, {}, DownloadOutcome::DataFailed,
         {"Opening interface... ", "Loading sourcefile... ", "Analysing sourcefile... ",
          "Error: unsupported record type in line 2"}},
        {"first record not at 0xE0000", "USB", files.misplaced, {}, DownloadOutcome::DataFailed,
         {"Opening interface... ", "Loading sourcefile... ", "Analysing sourcefile... ", "5 lines interpreted",
          "Building output data... ", "Error: startaddress is not 0xE0000"}},
        {"box of the other type", "USB", files.mot, {.firmwareType = 2}, DownloadOutcome::BoxRefused,
         Join({kPrepared, {"Waiting for synchronising ... ", "Error: Wrong firmware type"}})},
        {"erase failed", "USB", files.mot, {.refuseAt = BoxStage::Erase}, DownloadOutcome::BoxRefused,
         Join({kPrepared,
               {"Waiting for synchronising ... ", "Writing datalength... ", "Erasing flash... ",
                "Error: cannot erase flash"}})},
        {"no answer to the sync", "USB", files.mot, {.silentAt = BoxStage::Sync}, DownloadOutcome::BoxSilent,
         Join({kPrepared, {"Waiting for synchronising ... ", "Error: synchronize timeout"}})},
        {"silent instead of the read-back", "USB", files.mot, {.silentAt = BoxStage::ReadBack},
         DownloadOutcome::BoxSilent, Join({kPrepared, kFlashed, {"Reading data... ", "Error: box not answering"}})},
        {"read-back differs", "USB", files.mot, {.corruptReadBack = true}, DownloadOutcome::VerifyFailed,
         Join({kPrepared, kFlashed, {"Reading data... ", "Verify data...", "Error: data verify"}})},
        {"cancelled", "USB", files.mot, {}, DownloadOutcome::Cancelled,
         Join({kPrepared, {"Waiting for synchronising ... ", "Error: download cancelled"}}), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedBox box(c.behaviour);
        box.driver.Device(box.slot).present = c.boxPresent;
        box.status.AppendStatus("a line of the download before");
        SessionOptions options = box.Options(1000);
        if (c.cancel) {
            options.cancelRequested = [] { return true; };
        }
        EXPECT_EQ(RunDownload(c.link, c.file, box.status, options), c.outcome);
        EXPECT_EQ(box.status.lines(), c.lines);
        EXPECT_FALSE(box.driver.IsOpen(box.slot));
        if (c.boxPresent) {
            EXPECT_TRUE(DeviceFreeAgain(box));
        }
        const bool reachedTheBox = c.outcome != DownloadOutcome::LinkFailed &&
                                   c.outcome != DownloadOutcome::FileFailed &&
                                   c.outcome != DownloadOutcome::DataFailed;
        EXPECT_EQ(box.Written().empty(), !reachedTheBox) << "nothing goes to the box before the image is built";
    }
}

TEST(RunDownload, TwoDownloadsInARowEachStartAfresh) {
    Firmware files;
    SimulatedBox box;
    const Lines done = Join({kPrepared, kFlashed, {"Reading data... ", "Verify data...", "FLASHING SUCCESSFULL"}});
    EXPECT_EQ(RunDownload("USB", files.mot, box.status, box.Options()), DownloadOutcome::Success);
    EXPECT_EQ(RunDownload("USB", files.mot, box.status, box.Options()), DownloadOutcome::Success);
    EXPECT_EQ(box.status.lines(), done);
    EXPECT_EQ(box.Model().CompletedDownloads(), 2);
    EXPECT_EQ(box.driver.BaudRates(box.slot), (std::vector<std::uint32_t>{115200, 115200}));
    EXPECT_EQ(box.Model().LastVerdict(), 'S');
}

// The largest binary image still fits beside its read-back.
TEST(RunDownload, TheLargestBinaryImageIsReadBackWhole) {
    TempDir dir;
    const Bytes image = BinImage(229376 - 30);
    const std::string path = dir.Write("largest.bin", image);
    SimulatedBox box({.firmwareType = 2, .readBack = true});
    EXPECT_EQ(RunDownload("USB", path, box.status, box.Options()), DownloadOutcome::Success);
    EXPECT_TRUE(box.Model().LastImage() == image);
    EXPECT_EQ(box.Model().LastVerdict(), 'S');
    EXPECT_EQ(box.status.lines().back(), "FLASHING SUCCESSFULL");
}

// A box behind a pseudo-terminal, served on its own thread in real time.
struct ServedBox {
    explicit ServedBox(BoxBehaviour behaviour) : server(emulator::BoxModel(std::move(behaviour))) {
        started = server.Start();
        if (started) {
            thread = std::thread([this] { server.Run(); });
        }
    }
    ~ServedBox() {
        server.Stop();
        if (thread.joinable()) thread.join();
    }
    emulator::BoxServer server;
    bool started = false;
    std::thread thread;
};

TEST(RunDownload, OverASerialLineThePortIsFreeAfterEachDownload) {
    Firmware files;
    struct Case {
        std::string name;
        BoxBehaviour behaviour;
        DownloadOutcome outcome;
        std::string lastLine;
    };
    const std::vector<Case> cases = {
        {"success", {}, DownloadOutcome::Success, "FLASHING SUCCESSFULL"},
        {"silent at the length", {.silentAt = BoxStage::Length}, DownloadOutcome::BoxSilent,
         "Error: box not answering"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServedBox box(c.behaviour);
        ASSERT_TRUE(box.started) << box.server.Error();
        SessionOptions options;
        options.answerTimeoutMs = 300;
        // A box that asks for the length again without end is answered without end:
        // the test fails then instead of hanging.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        options.cancelRequested = [giveUp] { return std::chrono::steady_clock::now() > giveUp; };
        RecordingStatusList status;
        EXPECT_EQ(RunDownload(box.server.DevicePath(), files.mot, status, options), c.outcome);
        ASSERT_FALSE(status.lines().empty());
        EXPECT_EQ(status.lines().back(), c.lastLine);
        SerialLink again;
        EXPECT_TRUE(again.Open(box.server.DevicePath(), 115200, 0, 2, 8)) << "errno " << again.OpenError();
    }
}

}  // namespace
}  // namespace kestrel::testing
