#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "SessionTestFirmware.h"
#include "support/SimulatedBox.h"

// FlashData and VerifyData against the emulated box, byte for byte: every
// scenario runs in process on the manual clock, so silences cost no real time.
namespace kestrel::testing {
namespace {

using emulator::BoxBehaviour;
using emulator::BoxStage;

constexpr int kNotRun = 100;
constexpr std::uint32_t kAnswerBoundMs = 1000;

const std::string kWaiting = "Waiting for synchronising ... ";
const std::string kLength = "Writing datalength... ";
const std::string kHeader = "Writing header... ";
const std::string kErasing = "Erasing flash... ";
const std::string kData = "Writing data... ";
const std::string kVerify = "Verify data...";
const std::string kCannotProgram = "Error: Cannot program";
const std::string kNotAnswering = "Error: box not answering";
const std::string kCancelled = "Error: download cancelled";

const Bytes kSync = {0x2A};
const Bytes kTypeOneAccepted = {0xFE};
const Bytes kTypeTwoAccepted = {0xFD};
const Bytes kTypeRefused = {0xFF};
const Bytes kMatched = {'S'};
const Bytes kDiffered = {'E'};

const Bytes kMotImage = SelfProgImage(SampleBlocks());
const Bytes kBinImage = BinImage(1000);
const Bytes kBinHeader = Slice(kBinImage, 0, 30);
const Bytes kBinData = Slice(kBinImage, 30, kBinImage.size());

// A session on the box's USB link with the image of `sourceKind` in place, as
// the preparation leaves it.
std::unique_ptr<DataConverter> ReadySession(SimulatedBox& box, std::uint8_t sourceKind, SessionOptions options) {
    auto session = box.OpenSession(std::move(options));
    const Bytes& image = sourceKind == DataConverter::kSourceMot ? kMotImage : kBinImage;
    std::copy(image.begin(), image.end(), session->OutputBuffer.begin());
    session->outputLength = static_cast<std::uint32_t>(image.size());
    session->sourceKind = sourceKind;
    return session;
}

struct Ended {
    int flashed = kNotRun;
    int verified = kNotRun;
    std::uint32_t elapsedMs = 0;
};

// FlashData, then VerifyData when the box asked for the read-back, as the workflow does.
Ended Download(SimulatedBox& box, DataConverter& session) {
    const std::uint32_t start = box.clock.TickMs();
    Ended run;
    run.flashed = session.FlashData();
    if (run.flashed == 0) {
        run.verified = session.VerifyData();
    }
    run.elapsedMs = box.clock.TickMs() - start;
    return run;
}

struct Scenario {
    std::string name;
    std::uint8_t sourceKind;
    BoxBehaviour behaviour;
    int flashed;
    int verified;
    std::vector<std::string> lines;
    Bytes wire;
};

TEST(Handshake, EachScenarioGivesItsLinesAndItsBytesOnTheWire) {
    const Bytes motHead = Concat({kSync, kTypeOneAccepted, kLengthBytes});
    const Bytes binHead = Concat({kSync, kTypeTwoAccepted, kBinHeader});
    const std::vector<std::string> motFlashed = {kWaiting, kLength, kErasing, kData};
    const std::vector<std::string> binFlashed = {kWaiting, kHeader, kErasing, kData};
    auto with = [](std::vector<std::string> lines, std::initializer_list<std::string> more) {
        lines.insert(lines.end(), more);
        return lines;
    };

    const std::vector<Scenario> scenarios = {
        {"type 1, read back and matched", 1, {}, 0, 0, with(motFlashed, {kVerify}),
         Concat({motHead, kMotImage, kMatched})},
        {"type 1, no read-back", 1, {.readBack = false}, 1, kNotRun, motFlashed, Concat({motHead, kMotImage})},
        {"stray bytes before the type are ignored", 1, {.strayBeforeType = {0x2A, 0x00, 0x13, 0xFE}}, 0, 0,
         with(motFlashed, {kVerify}), Concat({motHead, kMotImage, kMatched})},
        {"a type 2 box for an S-record source", 1, {.firmwareType = 2}, -7, kNotRun,
         {kWaiting, "Error: Wrong firmware type"}, Concat({kSync, kTypeRefused})},
        {"a type 1 box for a binary source", 2, {.firmwareType = 1}, -7, kNotRun,
         {kWaiting, "Error: Wrong firmware type"}, Concat({kSync, kTypeRefused})},
        {"two retries of the length", 1, {.retriesAfterLength = 2}, 0, 0,
         {kWaiting, kLength, "retry", "retry", kErasing, kData, kVerify},
         Concat({motHead, kLengthBytes, kLengthBytes, kMotImage, kMatched})},
        {"an unexpected answer sends the length again without a line", 1, {.unexpectedAfterLength = 1}, 0, 0,
         with(motFlashed, {kVerify}), Concat({motHead, kLengthBytes, kMotImage, kMatched})},
        {"length refused", 1, {.refuseAt = BoxStage::Length}, -3, kNotRun, {kWaiting, kLength, kCannotProgram},
         motHead},
        {"erase failed", 1, {.refuseAt = BoxStage::Erase}, -1, kNotRun,
         {kWaiting, kLength, kErasing, "Error: cannot erase flash"}, motHead},
        {"data refused", 1, {.refuseAt = BoxStage::Data}, -4, kNotRun, with(motFlashed, {kCannotProgram}),
         Concat({motHead, kMotImage})},
        {"stray bytes during a long erase", 1, {.strayDuringErase = {'*', 'N', 0x00}, .eraseMs = kAnswerBoundMs / 2}, 0, 0,
         with(motFlashed, {kVerify}), Concat({motHead, kMotImage, kMatched})},
        {"corrupted read-back", 1, {.corruptReadBack = true}, 0, -1, with(motFlashed, {kVerify, "Error: data verify"}),
         Concat({motHead, kMotImage, kDiffered})},
        {"short read-back", 1, {.shortReadBack = 10}, 0, -1, with(motFlashed, {kVerify, "Error: data verify"}),
         Concat({motHead, kMotImage, kDiffered})},
        {"silent at the length", 1, {.silentAt = BoxStage::Length}, -6, kNotRun, {kWaiting, kLength, kNotAnswering},
         motHead},
        {"silent at the erase", 1, {.silentAt = BoxStage::Erase}, -6, kNotRun,
         {kWaiting, kLength, kErasing, kNotAnswering}, motHead},
        {"silent after the data", 1, {.silentAt = BoxStage::Data}, -6, kNotRun, with(motFlashed, {kNotAnswering}),
         Concat({motHead, kMotImage})},
        {"silent instead of the read-back", 1, {.silentAt = BoxStage::ReadBack}, 0, -2,
         with(motFlashed, {kNotAnswering}), Concat({motHead, kMotImage})},
        {"hang-up at the length", 1, {.hangUpAt = BoxStage::Length}, -6, kNotRun, {kWaiting, kLength, kNotAnswering},
         motHead},
        {"type 2, no read-back", 2, {.firmwareType = 2}, 1, kNotRun, binFlashed, Concat({binHead, kBinData})},
        {"type 2, read back from byte 6 on", 2, {.firmwareType = 2, .readBack = true}, 0, 0,
         with(binFlashed, {kVerify}), Concat({binHead, kBinData, kMatched})},
        {"type 2, the header twice", 2, {.firmwareType = 2, .retriesAfterLength = 1}, 1, kNotRun,
         {kWaiting, kHeader, "retry", kErasing, kData}, Concat({binHead, kBinHeader, kBinData})},
        {"type 2, header refused", 2, {.firmwareType = 2, .refuseAt = BoxStage::Length}, -3, kNotRun,
         {kWaiting, kHeader, kCannotProgram}, binHead},
    };

    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        SimulatedBox box(scenario.behaviour);
        auto session = ReadySession(box, scenario.sourceKind, box.Options(kAnswerBoundMs));
        ASSERT_EQ(box.opened, 0);
        const Ended run = Download(box, *session);
        EXPECT_EQ(run.flashed, scenario.flashed);
        EXPECT_EQ(run.verified, scenario.verified);
        EXPECT_EQ(box.status.lines(), scenario.lines);
        const Bytes written = box.Written();
        EXPECT_EQ(written.size(), scenario.wire.size());
        EXPECT_TRUE(written == scenario.wire);
    }
}

TEST(Handshake, TheBoxKeepsTheImageAndTheVerdictItWasSent) {
    SimulatedBox box;
    auto session = ReadySession(box, 1, box.Options());
    ASSERT_EQ(Download(box, *session).verified, 0);
    EXPECT_EQ(box.Model().CompletedDownloads(), 1);
    EXPECT_TRUE(box.Model().LastImage() == kMotImage);
    EXPECT_EQ(box.Model().LastVerdict(), 'S');
}

// How long each wait lasts on the box's clock before it gives up.
TEST(Handshake, WaitsEndAtTheirBoundsOnTheManualClock) {
    struct Case {
        std::string name;
        BoxBehaviour behaviour;
        std::uint32_t startMs;
        std::uint32_t atLeastMs;
        std::uint32_t atMostMs;
        std::string lastLine;
    };
    // One receive attempt lasts 15 ms, a read-back attempt 100 ms.
    const std::vector<Case> cases = {
        {"no type in 20000 ms", {.silentAt = BoxStage::Sync}, 0, 20000, 20030, "Error: synchronize timeout"},
        {"the sync time-out across the wrap of the tick count", {.silentAt = BoxStage::Sync}, 0xFFFFFFFFu - 5000,
         20000, 20030, "Error: synchronize timeout"},
        {"silent at the length", {.silentAt = BoxStage::Length}, 0, kAnswerBoundMs, kAnswerBoundMs + 30,
         kNotAnswering},
        {"silent at the erase", {.silentAt = BoxStage::Erase}, 0, kAnswerBoundMs, kAnswerBoundMs + 30, kNotAnswering},
        {"silent after the data", {.silentAt = BoxStage::Data}, 0, kAnswerBoundMs, kAnswerBoundMs + 30,
         kNotAnswering},
        {"silent instead of the read-back", {.silentAt = BoxStage::ReadBack}, 0, kAnswerBoundMs,
         kAnswerBoundMs + 200, kNotAnswering},
        {"an erase longer than the bound", {.eraseMs = 3 * kAnswerBoundMs}, 0, kAnswerBoundMs, kAnswerBoundMs + 30,
         kNotAnswering},
        {"a hang-up at the sync ends at once", {.hangUpAt = BoxStage::Sync}, 0, 0, 30, kNotAnswering},
        {"a hang-up at the length ends at once", {.hangUpAt = BoxStage::Length}, 0, 0, 30, kNotAnswering},
        {"a hang-up in the data ends at once", {.hangUpAt = BoxStage::Data}, 0, 0, 30, kNotAnswering},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedBox box(c.behaviour, c.startMs);
        auto session = ReadySession(box, 1, box.Options(kAnswerBoundMs));
        const Ended run = Download(box, *session);
        EXPECT_GE(run.elapsedMs, c.atLeastMs);
        EXPECT_LE(run.elapsedMs, c.atMostMs);
        const auto lines = box.status.lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), c.lastLine);
        EXPECT_TRUE(run.flashed < 0 || run.verified < 0);
    }
}

TEST(Handshake, AnEraseWithinTheBoundIsWaitedFor) {
    SimulatedBox box({.eraseMs = 25000});
    auto session = ReadySession(box, 1, box.Options(30000));
    const Ended run = Download(box, *session);
    EXPECT_EQ(run.flashed, 0);
    EXPECT_EQ(run.verified, 0);
    EXPECT_GE(run.elapsedMs, 25000u);
}

TEST(Handshake, AHangUpHalfWayThroughTheDataStopsSending) {
    SimulatedBox box({.hangUpAt = BoxStage::Data});
    auto session = ReadySession(box, 1, box.Options(kAnswerBoundMs));
    const Ended run = Download(box, *session);
    EXPECT_EQ(run.flashed, DataConverter::kFlashBoxNotAnswering);
    EXPECT_EQ(box.status.lines(), (std::vector<std::string>{kWaiting, kLength, kErasing, kData, kNotAnswering}));
    const Bytes written = box.Written();
    const Bytes head = Concat({kSync, kTypeOneAccepted, kLengthBytes});
    ASSERT_GT(written.size(), head.size() + kMotImage.size() / 2);
    ASSERT_LT(written.size(), head.size() + kMotImage.size());
    EXPECT_TRUE(Slice(written, 0, head.size()) == head);
    EXPECT_TRUE(Slice(written, head.size(), written.size()) == Slice(kMotImage, 0, written.size() - head.size()));
}

TEST(Handshake, ACancelRequestEndsTheStageItComesIn) {
    struct Case {
        std::string name;
        BoxBehaviour behaviour;
        // Asked on every poll: true from the moment the download is to stop.
        std::function<bool(SimulatedBox&)> cancelWhen;
        int flashed;
        int verified;
        std::vector<std::string> lines;
        std::size_t wireAtMost;
    };
    static constexpr std::size_t head = 1 + 1 + 8;
    const std::vector<Case> cases = {
        {"while synchronising", {.silentAt = BoxStage::Sync}, [](SimulatedBox&) { return true; },
         DataConverter::kFlashCancelled, kNotRun, {kWaiting, kCancelled}, 1},
        {"during the erase", {.eraseMs = 5000}, [](SimulatedBox& box) { return box.clock.TickMs() >= 1000; },
         DataConverter::kFlashCancelled, kNotRun, {kWaiting, kLength, kErasing, kCancelled}, head},
        {"while the data goes out", {}, [](SimulatedBox& box) { return box.Written().size() > 20000; },
         DataConverter::kFlashCancelled, kNotRun, {kWaiting, kLength, kErasing, kData, kCancelled}, 30000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedBox box(c.behaviour);
        SessionOptions options = box.Options(30000);
        options.cancelRequested = [&box, &c] { return c.cancelWhen(box); };
        auto session = ReadySession(box, 1, std::move(options));
        const Ended run = Download(box, *session);
        EXPECT_EQ(run.flashed, c.flashed);
        EXPECT_EQ(run.verified, c.verified);
        EXPECT_EQ(box.status.lines(), c.lines);
        EXPECT_LE(box.Written().size(), c.wireAtMost);
        EXPECT_LT(run.elapsedMs, 30000u) << "a cancel does not wait for the answer bound";
    }
}

TEST(Handshake, ACancelBeforeTheReadBackSendsNoVerdict) {
    SimulatedBox box;
    bool cancel = false;
    SessionOptions options = box.Options(30000);
    options.cancelRequested = [&cancel] { return cancel; };
    auto session = ReadySession(box, 1, std::move(options));
    ASSERT_EQ(session->FlashData(), 0);
    cancel = true;
    EXPECT_EQ(session->VerifyData(), DataConverter::kVerifyCancelled);
    EXPECT_EQ(box.status.lines(), (std::vector<std::string>{kWaiting, kLength, kErasing, kData, kCancelled}));
    EXPECT_EQ(box.Written().size(), 1 + 1 + kLengthBytes.size() + kMotImage.size());
    EXPECT_EQ(box.Model().LastVerdict(), 0);
}

}  // namespace
}  // namespace kestrel::testing
