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
const Lines kFlashed = {kWaiting, kLength, kErasing, kData};

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
        std::uint32_t waitedMs, startMs = 0, boundMs = kAnswerBoundMs;
    };
    constexpr std::uint32_t b = kAnswerBoundMs;
    constexpr int no = kNotRun;
    using S = BoxStage;
    const Bytes binHead = Concat({{0x2A, 0xFD}, kBinHeader}), bin = Concat({binHead, kBinData});
    const Bytes sync = {0x2A}, refused = {0x2A, 0xFF}, mot = Concat({kMotHead, kMotImage});
    const Bytes motS = Concat({mot, {'S'}}), motE = Concat({mot, {'E'}});
    const Lines& flashed = kFlashed;
    const Lines binFlashed = {kWaiting, kHeader, kErasing, kData};
    const Lines verified = Concat({flashed, {kVerify}}), differed = Concat({verified, {"Error: data verify"}});
    const Lines noSync = {kWaiting, "Error: synchronize timeout"}, wrongType = {kWaiting, "Error: Wrong firmware type"};
    const Lines length = {kWaiting, kLength}, silentLength = Concat({length, {kNotAnswering}});
    const Lines retried = Concat({length, {"retry", "retry", kErasing, kData, kVerify}});
    const Bytes retriedWire = Concat({kMotHead, kLengthBytes, kLengthBytes, kMotImage, {'S'}});
    const Bytes lengthAgain = Concat({kMotHead, kLengthBytes, kMotImage, {'S'}});
    const Lines eraseFailed = Concat({length, {kErasing, "Error: cannot erase flash"}});
    const Lines eraseSilent = Concat({length, {kErasing, kNotAnswering}});
    const Lines binVerified = Concat({binFlashed, {kVerify}});
    const Lines binRetried = {kWaiting, kHeader, "retry", kErasing, kData};
    const Bytes binTwice = Concat({binHead, kBinHeader, kBinData}), binS = Concat({bin, {'S'}});
    const Lines binRefused = {kWaiting, kHeader, kCannotProgram};
    const std::vector<Scenario> scenarios = {
        {"type 1, read back and matched", 1, {}, 0, 0, verified, motS, 0},
        {"type 1, no read-back", 1, {.readBack = false}, 1, no, flashed, mot, 0},
        {"stray bytes before the type", 1, {.strayBeforeType = {0x2A, 0x00, 0x13, 0xFE}}, 0, 0, verified, motS, 0},
        {"no type in 20000 ms", 1, {.silentAt = S::Sync}, -5, no, noSync, sync, 20000},
        {"the same across the tick's wrap", 1, {.silentAt = S::Sync}, -5, no, noSync, sync, 20000, 0xFFFFFFFFu - 5000},
        {"a type 2 box for an S-record source", 1, {.firmwareType = 2}, -7, no, wrongType, refused, 0},
        {"a type 1 box for a binary source", 2, {.firmwareType = 1}, -7, no, wrongType, refused, 0},
        {"two retries of the length", 1, {.retriesAfterLength = 2}, 0, 0, retried, retriedWire, 0},
        {"an odd answer: the length again, no line", 1, {.unexpectedAfterLength = 1}, 0, 0, verified, lengthAgain, 0},
        {"length refused", 1, {.refuseAt = S::Length}, -3, no, Concat({length, {kCannotProgram}}), kMotHead, 0},
        {"erase failed", 1, {.refuseAt = S::Erase}, -1, no, eraseFailed, kMotHead, 0},
        {"data refused", 1, {.refuseAt = S::Data}, -4, no, Concat({flashed, {kCannotProgram}}), mot, 0},
        {"stray bytes in an erase", 1, {.strayDuringErase = {'*', 'N', 0}, .eraseMs = 500}, 0, 0, verified, motS, 500},
        {"an erase within the bound", 1, {.eraseMs = 25000}, 0, 0, verified, motS, 25000, 0, 30000},
        // Silent at the erase, as far as the tool can tell.
        {"an erase past the bound", 1, {.eraseMs = 3 * b}, -6, no, eraseSilent, kMotHead, b},
        {"corrupted read-back", 1, {.corruptReadBack = true}, 0, -1, differed, motE, 0},
        {"short read-back", 1, {.shortReadBack = 10}, 0, -1, differed, motE, b},
        {"silent at the length", 1, {.silentAt = S::Length}, -6, no, silentLength, kMotHead, b},
        {"silent after the data", 1, {.silentAt = S::Data}, -6, no, Concat({flashed, {kNotAnswering}}), mot, b},
        {"silent at the read-back", 1, {.silentAt = S::ReadBack}, 0, -2, Concat({flashed, {kNotAnswering}}), mot, b},
        {"a hang-up at the sync", 1, {.hangUpAt = S::Sync}, -6, no, {kWaiting, kNotAnswering}, sync, 0},
        {"a hang-up at the length", 1, {.hangUpAt = S::Length}, -6, no, silentLength, kMotHead, 0},
        // The box ends the data block after 200 ms without a byte.
        {"type 2, no read-back", 2, {.firmwareType = 2}, 1, no, binFlashed, bin, 200},
        {"type 2, read back from byte 6 on", 2, {.firmwareType = 2, .readBack = true}, 0, 0, binVerified, binS, 200},
        {"type 2, the header twice", 2, {.firmwareType = 2, .retriesAfterLength = 1}, 1, no, binRetried, binTwice, 200},
        {"type 2, header refused", 2, {.firmwareType = 2, .refuseAt = S::Length}, -3, no, binRefused, binHead, 0},
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
        EXPECT_TRUE(box.Written() == scenario.wire) << box.Written().size() << " bytes written";
        EXPECT_GE(run.elapsedMs, scenario.waitedMs);
        EXPECT_LE(run.elapsedMs, scenario.waitedMs + 200);
    }
}

// A cancel request or a hang-up part-way: the stage it comes in ends at once,
// and what went out is the start of the whole exchange.
TEST(Handshake, ACancelOrAHangUpEndsTheStageItComesIn) {
    // Asked on every poll: true from the moment the download is to stop.
    using CancelWhen = std::function<bool(SimulatedBox&, bool verifying)>;
    struct Case {
        std::string name;
        BoxBehaviour behaviour;
        CancelWhen cancelWhen;
        int flashed, verified;
        Lines lines;
        std::size_t wireAtLeast, wireAtMost;
        std::uint32_t atMostMs;
    };
    const CancelWhen always = [](SimulatedBox&, bool) { return true; };
    const CancelWhen never = [](SimulatedBox&, bool) { return false; };
    const CancelWhen after1s = [](SimulatedBox& box, bool) { return box.clock.TickMs() >= 1000; };
    const CancelWhen after20000Bytes = [](SimulatedBox& box, bool) { return box.Written().size() > 20000; };
    const CancelWhen whenVerifying = [](SimulatedBox&, bool verifying) { return verifying; };
    const std::size_t head = kMotHead.size(), whole = head + kMotImage.size(), half = head + kMotImage.size() / 2;
    const Lines cancelled = Concat({kFlashed, {kCancelled}}), erasing = {kWaiting, kLength, kErasing, kCancelled};
    const Lines syncing = {kWaiting, kCancelled};
    constexpr int flashCancelled = DataConverter::kFlashCancelled, no = kNotRun;
    const std::vector<Case> cases = {
        {"while synchronising", {.silentAt = BoxStage::Sync}, always, flashCancelled, no, syncing, 0, 1, 30},
        {"during the erase", {.eraseMs = 5000}, after1s, flashCancelled, no, erasing, head, head, 1030},
        {"while the data goes out", {}, after20000Bytes, flashCancelled, no, cancelled, 20001, 30000, 30},
        // Nothing after the image: no verdict goes to the box.
        {"before the read-back", {}, whenVerifying, 0, DataConverter::kVerifyCancelled, cancelled, whole, whole, 30},
        {"a hang-up half-way through the data",
         {.hangUpAt = BoxStage::Data},
         never,
         DataConverter::kFlashBoxNotAnswering,
         no,
         Concat({kFlashed, {kNotAnswering}}),
         half,
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
