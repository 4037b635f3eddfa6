#include "station/GangDownload.h"

#include <map>
#include <memory>

#include "StationTestSupport.h"
#include "emulator/ServedBox.h"

namespace kestrel::testing {
namespace {

using emulator::BoxBehaviour;
using emulator::BoxStage;
using Outcome = DownloadOutcome;

// Four boxes on a line: two behind the USB chip's driver, named by serial number
// and by index, and two behind pseudo-terminals, served on threads of their own
// in real time; `faulty` misbehaves as `behaviour` says.
struct FourBoxes {
    FourBoxes(std::size_t faulty, const BoxBehaviour& behaviour, bool unplugged) {
        const auto of = [&](std::size_t box) { return box == faulty ? behaviour : BoxBehaviour{}; };
        UsbLink::ForgetDeviceListing();
        driver.AddDevice({.behaviour = of(0), .serialNumber = "KST-A"});
        driver.AddDevice({.behaviour = of(1), .serialNumber = "KST-B"});
        // Unplugging the first renumbers the second: it must still be found by its serial.
        driver.Device(0).present = !unplugged;
        links = {"USB:KST-A", unplugged ? "USB:KST-B" : "USB:1"};
        for (std::size_t i = 0; i < 2; ++i) {
            served[i] = std::make_unique<emulator::ServedBox>(emulator::BoxModel(of(2 + i)),
                                                              emulator::BoxServerOptions{.giveUpAfterMs = 20000});
            links.push_back(served[i]->DevicePath());
        }
    }
    // What box `box` received whole, once every download has ended: a served box stops then.
    Bytes Received(std::size_t box) {
        if (box < 2)
            return driver.Model(box).LastImage();
        served[box - 2]->Stop();
        return served[box - 2]->Server().Model().LastImage();
    }

    emulator::SimulatedUsbDriver driver{SteadyClock()};
    std::unique_ptr<emulator::ServedBox> served[2];
    Lines links;
};

const char* const kSilent = "Error: box not answering";

// Four boxes at once, one faulty at a different stage each round: the others succeed.
TEST(GangDownload, OneFaultyBoxEndsOnlyItsOwnDownloadAndABinaryImageGoesStraightAt38400) {
    FirmwareFiles firmware;
    RecordingStatusList preparation;
    GangImage image;
    ASSERT_EQ(PrepareGangImage(firmware.mot, preparation, image), DownloadOutcome::Success);
    struct FaultCase {
        const char* name;
        std::size_t faulty;
        BoxBehaviour behaviour;
        DownloadOutcome outcome;
        const char* lastError;
        bool unplugged = false;
    };
    for (const FaultCase& c : std::vector<FaultCase>{
             {"USB box unplugged", 0, {}, Outcome::LinkFailed, "Error: cannot open Ixo Serial Device", true},
             {"USB box of another type", 0, {.firmwareType = 2}, Outcome::BoxRefused, "Error: Wrong firmware type"},
             {"USB box silent in the data", 1, {.silentAt = BoxStage::Data}, Outcome::BoxSilent, kSilent},
             {"pty box hangs up in the data", 2, {.hangUpAt = BoxStage::Data}, Outcome::BoxSilent, kSilent},
             {"pty box reads back wrong", 3, {.corruptReadBack = true}, Outcome::VerifyFailed, "Error: data verify"}}) {
        SCOPED_TRACE(c.name);
        FourBoxes line(c.faulty, c.behaviour, c.unplugged);
        for (const auto& served : line.served)
            ASSERT_TRUE(served->Started()) << served->Error();

        // Every box reports into one JSON stream, each under its own port.
        std::ostringstream json;
        JsonLineWriter writer(json);
        std::vector<std::unique_ptr<JsonLinesStatusList>> lists;
        std::vector<GangBox> boxes(4);
        const SessionOptions options{.usbDriver = &line.driver, .answerTimeoutMs = 1000};
        for (std::size_t i = 0; i < 4; ++i) {
            lists.push_back(std::make_unique<JsonLinesStatusList>(writer, nullptr, line.links[i]));
            boxes[i] = {.linkName = line.links[i], .status = lists.back().get(), .options = options};
        }
        const auto results = RunGangDownload(image, boxes);
        // The stream's lines stayed whole and each box's lines kept their order.
        std::map<std::string, Lines> streamed;
        for (const auto& object : ParseJsonLines(SplitLines(json.str())))
            if (object.at("event") == "status")
                streamed[object.at("port").get<std::string>()].push_back(object.at("line").get<std::string>());

        ASSERT_EQ(results.size(), 4u);
        for (std::size_t i = 0; i < 4; ++i) {
            SCOPED_TRACE("box " + std::to_string(i) + " on " + line.links[i]);
            const bool faulty = i == c.faulty;
            EXPECT_EQ(results[i].outcome, faulty ? c.outcome : DownloadOutcome::Success);
            EXPECT_EQ(results[i].lastError, faulty ? c.lastError : "");
            EXPECT_TRUE(faulty || (streamed[line.links[i]] == kFlashed && line.Received(i) == firmware.motImage));
        }
        if (HasFailure())
            return;  // a broken download fails the rounds after it alike, each after the boxes' bounds
    }

    // A binary image goes straight at 38400 baud.
    ASSERT_EQ(PrepareGangImage(firmware.bin, preparation, image), DownloadOutcome::Success);
    SimulatedBox box({.firmwareType = 2});
    const auto results =
        RunGangDownload(image, {{.linkName = "USB:0", .status = &box.status, .options = box.Options()}});
    EXPECT_EQ(results.at(0).outcome, DownloadOutcome::Success);
    // Opened once, straight at the binary image's rate: no reopen without a file to load.
    EXPECT_EQ(box.driver.BaudRates(0), std::vector<std::uint32_t>{38400});
    EXPECT_EQ(box.driver.Model(0).LastImage(), firmware.binImage);
}

}  // namespace
}  // namespace kestrel::testing
