#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/Firmware.h"
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

const Bytes kMotImage = SelfProgImage(SampleBlocks());
const Bytes kBinImage = BinImage(1000);
const Bytes kBinHeader = Slice(kBinImage, 0, 30);
const Bytes kBinData = Slice(kBinImage, 30, kBinImage.size());
// '*', the type byte the tool accepts, the length.
const Bytes kMotHead = Concat({{0x2A, 0xFE}, kLengthBytes});

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

// FlashData, then VerifyData when the box asked for the read-back, as the
// workflow does; `verifying` is set in between.
Ended Download(SimulatedBox& box, DataConverter& session, bool* verifying = nullptr) {
    const std::uint32_t start = box.clock.TickMs();
    Ended run;
    run.flashed = session.FlashData();
    if (run.flashed == 0) {
        if (verifying != nullptr)
            *verifying = true;
        run.verified = session.VerifyData();
    }
    run.elapsedMs = box.clock.TickMs() - start;
    return run;
}

// Each scenario's lines, its bytes on the wire and how long it took on the
// box's clock: at least `waitedMs`, and at most one read-back attempt (100 ms)
// or a few receive attempts (15 ms each) longer.
TEST(Handshake, EachScenarioGivesItsLinesItsBytesOnTheWireAndItsTime) {
    struct Scenario {
        std::string name;
        std::uint8_t sourceKind;
        BoxBehaviour behaviour;
        int flashed, verified;
        Lines lines;
        Bytes wire;
        std::uint32_t waitedMs;
        std::uint32_t startMs = 0;
        std::uint32_t boundMs = kAnswerBoundMs;
    };
    constexpr std::uint32_t b = kAnswerBoundMs;
    const Bytes binHead = Concat({{0x2A, 0xFD}, kBinHeader});
    const Bytes kSync = {0x2A}, kTypeRefused = {0x2A, 0xFF}, kMatched = {'S'}, kDiffered = {'E'};
    const Bytes motWhole = Concat({kMotHead, kMotImage}), motMatched = Concat({kMotHead, kMotImage, kMatched});
    const Lines motFlashed = {kWaiting, kLength, kErasing, kData};
    const Lines binFlashed = {kWaiting, kHeader, kErasing, kData};
    const Lines motVerified = Concat({motFlashed, {kVerify}});
    const Lines motDiffered = Concat({motFlashed, {kVerify, "Error: data verify"}});
    const Lines noSync = {kWaiting, "Error: synchronize timeout"};
    const Lines wrongType = {kWaiting, "Error: Wrong firmware type"};
    const std::vector<Scenario> scenarios = {
        {"type 1, read back and matched", 1, {}, 0, 0, motVerified, motMatched, 0},
        {"type 1, no read-back", 1, {.readBack = false}, 1, kNotRun, motFlashed, motWhole, 0},
        {"stray bytes before the type are ignored",
         1,
         {.strayBeforeType = {0x2A, 0x00, 0x13, 0xFE}},
         0,
         0,
         motVerified,
         motMatched,
         0},
        {"no type in 20000 ms", 1, {.silentAt = BoxStage::Sync}, -5, kNotRun, noSync, kSync, 20000},
        {"the sync time-out across the wrap of the tick count",
         1,
         {.silentAt = BoxStage::Sync},
         -5,
         kNotRun,
         noSync,
         kSync,
         20000,
         0xFFFFFFFFu - 5000},
        {"a type 2 box for an S-record source", 1, {.firmwareType = 2}, -7, kNotRun, wrongType, kTypeRefused, 0},
        {"a type 1 box for a binary source", 2, {.firmwareType = 1}, -7, kNotRun, wrongType, kTypeRefused, 0},
        {"two retries of the length",
         1,
         {.retriesAfterLength = 2},
         0,
         0,
         {kWaiting, kLength, "retry", "retry", kErasing, kData, kVerify},
         Concat({kMotHead, kLengthBytes, kLengthBytes, kMotImage, kMatched}),
         0},
        {"an unexpected answer sends the length again without a line",
         1,
         {.unexpectedAfterLength = 1},
         0,
         0,
         motVerified,
         Concat({kMotHead, kLengthBytes, kMotImage, kMatched}),
         0},
        {"length refused",
         1,
         {.refuseAt = BoxStage::Length},
         -3,
         kNotRun,
         {kWaiting, kLength, kCannotProgram},
         kMotHead,
         0},
        {"erase failed",
         1,
         {.refuseAt = BoxStage::Erase},
         -1,
         kNotRun,
         {kWaiting, kLength, kErasing, "Error: cannot erase flash"},
         kMotHead,
         0},
        {"data refused",
         1,
         {.refuseAt = BoxStage::Data},
         -4,
         kNotRun,
         Concat({motFlashed, {kCannotProgram}}),
         motWhole,
         0},
        {"stray bytes during a long erase",
         1,
         {.strayDuringErase = {'*', 'N', 0x00}, .eraseMs = b / 2},
         0,
         0,
         motVerified,
         motMatched,
         b / 2},
        {"an erase within the bound is waited for",
         1,
         {.eraseMs = 25000},
         0,
         0,
         motVerified,
         motMatched,
         25000,
         0,
         30000},
        // Silent at the erase, as far as the tool can tell.
        {"an erase longer than the bound",
         1,
         {.eraseMs = 3 * b},
         -6,
         kNotRun,
         {kWaiting, kLength, kErasing, kNotAnswering},
         kMotHead,
         b},
        {"corrupted read-back",
         1,
         {.corruptReadBack = true},
         0,
         -1,
         motDiffered,
         Concat({kMotHead, kMotImage, kDiffered}),
         0},
        {"short read-back", 1, {.shortReadBack = 10}, 0, -1, motDiffered, Concat({kMotHead, kMotImage, kDiffered}), b},
        {"silent at the length",
         1,
         {.silentAt = BoxStage::Length},
         -6,
         kNotRun,
         {kWaiting, kLength, kNotAnswering},
         kMotHead,
         b},
        {"silent after the data",
         1,
         {.silentAt = BoxStage::Data},
         -6,
         kNotRun,
         Concat({motFlashed, {kNotAnswering}}),
         motWhole,
         b},
        {"silent instead of the read-back",
         1,
         {.silentAt = BoxStage::ReadBack},
         0,
         -2,
         Concat({motFlashed, {kNotAnswering}}),
         motWhole,
         b},
        {"a hang-up at the sync ends at once",
         1,
         {.hangUpAt = BoxStage::Sync},
         -6,
         kNotRun,
         {kWaiting, kNotAnswering},
         kSync,
         0},
        {"a hang-up at the length ends at once",
         1,
         {.hangUpAt = BoxStage::Length},
         -6,
         kNotRun,
         {kWaiting, kLength, kNotAnswering},
         kMotHead,
         0},
        // The box ends the data block after 200 ms without a byte.
        {"type 2, no read-back", 2, {.firmwareType = 2}, 1, kNotRun, binFlashed, Concat({binHead, kBinData}), 200},
        {"type 2, read back from byte 6 on",
         2,
         {.firmwareType = 2, .readBack = true},
         0,
         0,
         Concat({binFlashed, {kVerify}}),
         Concat({binHead, kBinData, kMatched}),
         200},
        {"type 2, the header twice",
         2,
         {.firmwareType = 2, .retriesAfterLength = 1},
         1,
         kNotRun,
         {kWaiting, kHeader, "retry", kErasing, kData},
         Concat({binHead, kBinHeader, kBinData}),
         200},
        {"type 2, header refused",
         2,
         {.firmwareType = 2, .refuseAt = BoxStage::Length},
         -3,
         kNotRun,
         {kWaiting, kHeader, kCannotProgram},
         binHead,
         0},
    };
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        SimulatedBox box(scenario.behaviour, scenario.startMs);
        auto session = ReadySession(box, scenario.sourceKind, box.Options(scenario.boundMs));
        ASSERT_EQ(box.opened, 0);
        const Ended run = Download(box, *session);
        EXPECT_EQ(run.flashed, scenario.flashed);
        EXPECT_EQ(run.verified, scenario.verified);
        EXPECT_EQ(box.status.lines(), scenario.lines);
        const Bytes written = box.Written();
        EXPECT_EQ(written.size(), scenario.wire.size());
        EXPECT_TRUE(written == scenario.wire);
        EXPECT_GE(run.elapsedMs, scenario.waitedMs);
        EXPECT_LE(run.elapsedMs, scenario.waitedMs + 200);
    }
}

// A cancel request or a hang-up part-way: the stage it comes in ends at once,
// and what went out is the start of the whole exchange.
TEST(Handshake, ACancelOrAHangUpEndsTheStageItComesIn) {
    struct Case {
        std::string name;
        BoxBehaviour behaviour;
        // Asked on every poll: true from the moment the download is to stop.
        std::function<bool(SimulatedBox&, bool verifying)> cancelWhen;
        int flashed, verified;
        Lines lines;
        std::size_t wireAtLeast, wireAtMost;
        std::uint32_t atMostMs;
    };
    const std::size_t head = kMotHead.size(), whole = head + kMotImage.size();
    const Lines cancelled = {kWaiting, kLength, kErasing, kData, kCancelled};
    const std::vector<Case> cases = {
        {"a cancel while synchronising",
         {.silentAt = BoxStage::Sync},
         [](SimulatedBox&, bool) { return true; },
         DataConverter::kFlashCancelled,
         kNotRun,
         {kWaiting, kCancelled},
         0,
         1,
         30},
        {"a cancel during the erase",
         {.eraseMs = 5000},
         [](SimulatedBox& box, bool) { return box.clock.TickMs() >= 1000; },
         DataConverter::kFlashCancelled,
         kNotRun,
         {kWaiting, kLength, kErasing, kCancelled},
         head,
         head,
         1030},
        {"a cancel while the data goes out",
         {},
         [](SimulatedBox& box, bool) { return box.Written().size() > 20000; },
         DataConverter::kFlashCancelled,
         kNotRun,
         cancelled,
         20001,
         30000,
         30},
        // Nothing after the image: no verdict goes to the box.
        {"a cancel before the read-back",
         {},
         [](SimulatedBox&, bool verifying) { return verifying; },
         0,
         DataConverter::kVerifyCancelled,
         cancelled,
         whole,
         whole,
         30},
        {"a hang-up half-way through the data",
         {.hangUpAt = BoxStage::Data},
         [](SimulatedBox&, bool) { return false; },
         DataConverter::kFlashBoxNotAnswering,
         kNotRun,
         {kWaiting, kLength, kErasing, kData, kNotAnswering},
         head + kMotImage.size() / 2,
         whole - 1,
         30},
    };
    const Bytes exchange = Concat({kMotHead, kMotImage, {'S'}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedBox box(c.behaviour);
        bool verifying = false;
        SessionOptions options = box.Options(30000);
        options.cancelRequested = box.Bounded([&] { return c.cancelWhen(box, verifying); });
        auto session = ReadySession(box, 1, std::move(options));
        const Ended run = Download(box, *session, &verifying);
        EXPECT_EQ(run.flashed, c.flashed);
        EXPECT_EQ(run.verified, c.verified);
        EXPECT_EQ(box.status.lines(), c.lines);
        const Bytes written = box.Written();
        EXPECT_GE(written.size(), c.wireAtLeast);
        ASSERT_LE(written.size(), c.wireAtMost);
        EXPECT_TRUE(written == Slice(exchange, 0, written.size()));
        EXPECT_LE(run.elapsedMs, c.atMostMs);
    }
}

}  // namespace
}  // namespace kestrel::testing
