#include "session/GangDownload.h"

#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "JsonCheck.h"
#include "LineTestSupport.h"
#include "emulator/BoxServer.h"
#include "emulator/SimulatedUsbDriver.h"
#include "session/JsonLines.h"
#include "session/RecordingStatusList.h"
#include "session/Sha256.h"

namespace kestrel::testing {
namespace {

using emulator::BoxBehaviour;
using emulator::BoxStage;
using Lines = std::vector<std::string>;

const Lines kFlashedAndVerified = {"Opening interface... ", "Waiting for synchronising ... ",
                                   "Writing datalength... ", "Erasing flash... ", "Writing data... ",
                                   "Reading data... ", "Verify data...", "FLASHING SUCCESSFULL"};

// A box behind a pseudo-terminal, served on its own thread in real time.
struct ServedBox {
    explicit ServedBox(const BoxBehaviour& behaviour) : server(emulator::BoxModel(behaviour)) {
        started = server.Start();
        if (started) thread = std::thread([this] { server.Run(); });
    }
    ~ServedBox() { Finish(); }
    // Ends the serving, after which the model may be read.
    void Finish() {
        server.Stop();
        if (thread.joinable()) thread.join();
    }
    emulator::BoxServer server;
    bool started = false;
    std::thread thread;
};

// Four boxes on a line: two behind the USB chip's driver, named by serial number
// and by index, and two on serial lines; `faulty` misbehaves as `behaviour` says.
struct FourBoxes {
    FourBoxes(std::size_t faulty, const BoxBehaviour& behaviour, bool unplugged) {
        const auto of = [&](std::size_t box) { return box == faulty ? behaviour : BoxBehaviour{}; };
        UsbLink::ForgetDeviceListing();
        driver.AddDevice(emulator::SimulatedUsbDevice{.behaviour = of(0), .serialNumber = "KST-A"});
        driver.AddDevice(emulator::SimulatedUsbDevice{.behaviour = of(1), .serialNumber = "KST-B"});
        // Unplugging the first renumbers the second: it must still be found by its serial.
        driver.Device(0).present = !(unplugged && faulty == 0);
        served[0] = std::make_unique<ServedBox>(of(2));
        served[1] = std::make_unique<ServedBox>(of(3));
        links = {"USB:KST-A", unplugged && faulty == 0 ? "USB:KST-B" : "USB:1", served[0]->server.DevicePath(),
                 served[1]->server.DevicePath()};
    }
    // What box `box` received whole, once every download has ended.
    std::vector<std::uint8_t> Received(std::size_t box) {
        if (box < 2) return driver.Model(box).LastImage();
        served[box - 2]->Finish();
        return served[box - 2]->server.Model().LastImage();
    }

    emulator::SimulatedUsbDriver driver{SteadyClock()};
    std::unique_ptr<ServedBox> served[2];
    std::vector<std::string> links;
};

struct FaultCase {
    const char* name;
    std::size_t faulty;
    BoxBehaviour behaviour;
    DownloadOutcome outcome;
    const char* lastError;
    bool unplugged = false;
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class GangDownload : public ::testing::TestWithParam<FaultCase> {};

TEST_P(GangDownload, OneFaultyBoxEndsOnlyItsOwnDownload) {
    const FaultCase& c = GetParam();
    LineFirmware firmware;
    RecordingStatusList preparation;
    GangImage image;
    ASSERT_EQ(PrepareGangImage(firmware.mot, preparation, image), DownloadOutcome::Success);
    ASSERT_EQ(image.bytes, firmware.motImage);

    FourBoxes line(c.faulty, c.behaviour, c.unplugged);
    for (const auto& served : line.served) ASSERT_TRUE(served->started) << served->server.Error();

    // Every box reports into one JSON stream as well as its own list.
    std::ostringstream json;
    JsonLineWriter writer(json);
    RecordingStatusList lists[4];
    std::vector<std::unique_ptr<JsonLinesStatusList>> jsonLists;
    std::vector<GangBox> boxes;
    for (std::size_t i = 0; i < 4; ++i) {
        jsonLists.push_back(std::make_unique<JsonLinesStatusList>(writer, &lists[i], line.links[i]));
        GangBox box;
        box.linkName = line.links[i];
        box.status = jsonLists.back().get();
        box.options.usbDriver = &line.driver;
        box.options.answerTimeoutMs = 1000;
        boxes.push_back(box);
    }
    const auto results = RunGangDownload(image, boxes);

    ASSERT_EQ(results.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE("box " + std::to_string(i) + " on " + line.links[i]);
        EXPECT_EQ(results[i].linkName, line.links[i]);
        EXPECT_GT(results[i].seconds, 0.0);
        if (i == c.faulty) {
            EXPECT_EQ(results[i].outcome, c.outcome);
            EXPECT_EQ(results[i].lastError, c.lastError);
            ASSERT_FALSE(lists[i].lines().empty());
            EXPECT_EQ(lists[i].lines().back(), c.lastError);
            continue;
        }
        EXPECT_EQ(results[i].outcome, DownloadOutcome::Success);
        EXPECT_EQ(results[i].lastError, "");
        EXPECT_EQ(lists[i].lines(), kFlashedAndVerified);
        EXPECT_TRUE(line.Received(i) == firmware.motImage) << "the box's image differs";
    }

    // The stream's lines stayed whole and each box's lines kept their order.
    std::map<std::string, Lines> streamed;
    for (const auto& text : SplitLines(json.str())) {
        const auto fields = JsonCheck::Parse(text);
        ASSERT_TRUE(fields.has_value()) << text;
        if (fields->at("event").text == "status") {
            streamed[fields->at("port").text].push_back(fields->at("line").text);
        }
    }
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(streamed[line.links[i]], lists[i].lines());
}

INSTANTIATE_TEST_SUITE_P(
    EachStage, GangDownload,
    ::testing::Values(
        FaultCase{"UsbBoxUnplugged", 0, {}, DownloadOutcome::LinkFailed, "Error: cannot open Ixo Serial Device",
                  true},
        FaultCase{"UsbBoxOfTheOtherType", 0, {.firmwareType = 2}, DownloadOutcome::BoxRefused,
                  "Error: Wrong firmware type"},
        FaultCase{"UsbBoxRefusesTheErase", 1, {.refuseAt = BoxStage::Erase}, DownloadOutcome::BoxRefused,
                  "Error: cannot erase flash"},
        FaultCase{"UsbBoxSilentDuringTheData", 1, {.silentAt = BoxStage::Data}, DownloadOutcome::BoxSilent,
                  "Error: box not answering"},
        FaultCase{"SerialBoxHangsUpInTheData", 2, {.hangUpAt = BoxStage::Data}, DownloadOutcome::BoxSilent,
                  "Error: box not answering"},
        FaultCase{"SerialBoxRefusesTheLength", 2, {.refuseAt = BoxStage::Length}, DownloadOutcome::BoxRefused,
                  "Error: Cannot program"},
        FaultCase{"SerialBoxReadsBackWrong", 3, {.corruptReadBack = true}, DownloadOutcome::VerifyFailed,
                  "Error: data verify"},
        FaultCase{"SerialBoxSilentAtTheReadBack", 3, {.silentAt = BoxStage::ReadBack}, DownloadOutcome::BoxSilent,
                  "Error: box not answering"}),
    [](const ::testing::TestParamInfo<FaultCase>& param) { return std::string(param.param.name); });

TEST(GangDownloadImage, AFileThatCannotBeBuiltStopsTheGangBeforeAnyBoxAndABinaryGoesAt38400) {
    LineFirmware firmware;
    RecordingStatusList status;
    GangImage image;
    EXPECT_EQ(PrepareGangImage(firmware.dir.Path("missing.mot"), status, image), DownloadOutcome::FileFailed);
    EXPECT_EQ(status.lines(), (Lines{"Loading sourcefile... ", "Error: cannot open sourcefile"}));
    EXPECT_TRUE(image.bytes.empty());

    status.Clear();
    ASSERT_EQ(PrepareGangImage(firmware.bin, status, image), DownloadOutcome::Success);
    EXPECT_EQ(image.sourceKind, DataConverter::kSourceBin);
    EXPECT_EQ(image.sha256, Sha256Hex(firmware.binImage.data(), firmware.binImage.size()));

    ManualClock clock;
    emulator::SimulatedUsbDriver driver(clock);
    UsbLink::ForgetDeviceListing();
    driver.AddDevice(emulator::SimulatedUsbDevice{.behaviour = {.firmwareType = 2}});
    RecordingStatusList boxStatus;
    GangBox box;
    box.linkName = "USB:0";
    box.status = &boxStatus;
    box.options.usbDriver = &driver;
    box.options.clock = &clock;
    const auto results = RunGangDownload(image, {box});
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome, DownloadOutcome::Success);
    // Opened once, straight at the binary image's rate: no reopen without a file to load.
    EXPECT_EQ(driver.BaudRates(0), std::vector<std::uint32_t>{38400});
    EXPECT_EQ(driver.Model(0).LastImage(), firmware.binImage);
}

}  // namespace
}  // namespace kestrel::testing
