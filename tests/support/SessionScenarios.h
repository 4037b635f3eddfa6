#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "session/DownloadWorkflow.h"
#include "support/Firmware.h"
#include "support/SimulatedBox.h"

// Whole downloads into the emulated box over the simulated USB link, on its
// manual clock, so that silences cost no real time: every way a download ends,
// with every line the user sees, every byte the box receives and how long it
// took. The workflow's table, and the soak's thousand downloads.
namespace kestrel::testing {

inline const std::string kOpening = "Opening interface... ", kWaiting = "Waiting for synchronising ... ";

struct ScenarioFiles : FirmwareFiles {
    Bytes largestImage = BinImage(229376 - 30);  // the most a read-back can hold
    std::string largest = dir.Write("largest.bin", largestImage);
    // A data record without data is no data either.
    std::string noData = dir.Write(
        "header.mot", SRecordLine('0', 0, nullptr, 0) + S2Line(kWindowStart, {}) + SRecordLine('8', 0, nullptr, 0));
};

struct Scenario {
    enum Setup { kPlain, kUnplugged, kNoReopen, kCutInTheData, kNearTheWrap };
    std::string name;
    std::string file;
    emulator::BoxBehaviour behaviour;
    DownloadOutcome outcome;
    Lines lines;
    Bytes wire = {};  // kCutInTheData: what went out is a start of it, past its head and short of its end
    // On the box's clock, to the millisecond: a header byte takes 1 ms, and a
    // silence ends at the first check past its bound, the checks coming between
    // receive attempts of 15 ms (100 ms in the read-back).
    std::uint32_t waitedMs = 0;
    std::function<bool(SimulatedBox&)> onPoll = {};  // asked on every poll: true cancels; it may let time pass
    Setup setup = kPlain;
};

// The answer bound is the default, 30 s.
inline std::vector<Scenario> Scenarios(const ScenarioFiles& f) {
    using O = DownloadOutcome;
    using S = emulator::BoxStage;
    using B = emulator::BoxBehaviour;
    constexpr std::uint32_t b = 30000;
    const std::string waiting = kWaiting, opening = kOpening, length = "Writing datalength... ";
    const std::string header = "Writing header... ", erasing = "Erasing flash... ", data = "Writing data... ";
    const std::string reading = "Reading data... ", verify = "Verify data...", done = "FLASHING SUCCESSFULL";
    const std::string silent = "Error: box not answering", cannot = "Error: Cannot program";
    const std::string cancelled = "Error: download cancelled";
    const std::string loading = "Loading sourcefile... ", noUsb = "Error: cannot open Ixo Serial Device";
    const auto prepared = [&](int lines) {
        return Lines{opening, loading, "Analysing sourcefile... ", std::to_string(lines) + " lines interpreted",
                     "Building output data... "};
    };
    const auto concat = [](const Lines& before, const Lines& after) { return Concat({before, after}); };
    const Lines mot = prepared(16), bin = prepared(3), synced = concat(mot, {waiting});
    const Lines lengthSent = concat(synced, {length}), flashed = concat(lengthSent, {erasing, data});
    const Lines matched = concat(flashed, {reading, verify, done}), unverified = concat(flashed, {done});
    const Lines differed = concat(flashed, {reading, verify, "Error: data verify"});
    const Lines retried = concat(lengthSent, {"retry", "retry", erasing, data, reading, verify, done});
    const Lines noSync = concat(synced, {"Error: synchronize timeout"}), silentLength = concat(lengthSent, {silent});
    const Lines motWrong = concat(synced, {"Error: Wrong firmware type"});
    const Lines eraseFailed = concat(lengthSent, {erasing, "Error: cannot erase flash"});
    const Lines eraseSilent = concat(lengthSent, {erasing, silent}),
                readBackSilent = concat(flashed, {reading, silent});
    const Lines binSynced = concat(bin, {waiting}), binHeaderSent = concat(binSynced, {header});
    const Lines binWrong = concat(binSynced, {"Error: Wrong firmware type"});
    const Lines binFlashed = concat(binHeaderSent, {erasing, data}), binDone = concat(binFlashed, {done});
    const Lines binRetried = concat(binHeaderSent, {"retry", erasing, data, done});
    const Lines largest = concat(prepared(896), {waiting, header, erasing, data, reading, verify, done});
    const Lines dataSilent = concat(flashed, {silent}), binHeaderSilent = concat(binHeaderSent, {silent});
    const Lines cancelSync = concat(synced, {cancelled}), cancelErase = concat(lengthSent, {erasing, cancelled});
    const Lines cancelData = concat(flashed, {cancelled}), cancelReading = concat(flashed, {reading, cancelled});
    const Lines noData = concat(prepared(3), {"Error: no data in sourcefile"});
    const Lines misplaced = concat(prepared(5), {"Error: startaddress is not 0xE0000"});
    // '*', the type byte the tool accepts, then the length or the header.
    const Bytes sync = {0x2A}, refused = {0x2A, 0xFF}, motHead = Concat({{0x2A, 0xFE}, kLengthBytes});
    const Bytes motWire = Concat({motHead, f.motImage}), matchedWire = Concat({motWire, {'S'}});
    const Bytes differedWire = Concat({motWire, {'E'}}), strays = {0x2A, 0x00, 0x13, 0xFE};
    const Bytes lengthThrice = Concat({motHead, kLengthBytes, kLengthBytes, f.motImage, {'S'}});
    const Bytes binHead = Concat({{0x2A, 0xFD}, Bytes(f.binImage.begin(), f.binImage.begin() + 30)});
    const Bytes binWire = Concat({{0x2A, 0xFD}, f.binImage}), binTwice = Concat({binHead, f.binImage});
    const Bytes largestWire = Concat({{0x2A, 0xFD}, f.largestImage, {'S'}});
    const B type2 = {.firmwareType = 2}, type2ReadBack = {.firmwareType = 2, .readBack = true};
    const B type2Retry = {.firmwareType = 2, .retriesAfterLength = 1};
    const B type2Erase = {.firmwareType = 2, .eraseMs = b};  // the data's idle time runs from the erase's end
    const B strayErase = {.strayDuringErase = {'*', 'N', 0}, .eraseMs = 500};
    const auto always = [](SimulatedBox&) { return true; };
    // The process stalls at the first poll after a line, with the answer already waiting: the bound alone decides.
    const auto stallAfter = [](std::map<std::string, std::uint32_t> stallsMs) {
        return [stallsMs](SimulatedBox& box) mutable {
            if (const auto stall = stallsMs.find(box.status.lines().back()); stall != stallsMs.end()) {
                box.clock.Advance(stall->second);
                stallsMs.erase(stall);
            }
            return false;
        };
    };
    const auto typeLate = [&](std::uint32_t ms) { return stallAfter({{waiting, ms}}); };
    const auto sentLate = [&](std::uint32_t ms) { return stallAfter({{header, ms}}); };
    const auto gotLate = [&](std::uint32_t ms) { return stallAfter({{length, 1000}, {erasing, ms}}); };
    const auto after1s = [](SimulatedBox& box) { return box.clock.TickMs() >= 1000; };
    const auto after20000Bytes = [](SimulatedBox& box) { return box.Written().size() > 20000; };
    const auto whenReading = [reading](SimulatedBox& box) {
        const Lines lines = box.status.lines();
        return !lines.empty() && lines.back() == reading;
    };
    const auto wrap = Scenario::kNearTheWrap, cut = Scenario::kCutInTheData;
    return {
        {"type 1, read back and matched", f.mot, {}, O::Success, matched, matchedWire},
        {"type 1, no read-back", f.mot, {.readBack = false}, O::Success, unverified, motWire},
        {"strays before the type", f.mot, {.strayBeforeType = strays}, O::Success, matched, matchedWire},
        // No type in 20000 ms, started just before the tick count wraps.
        {"no type across the tick's wrap", f.mot, {.silentAt = S::Sync}, O::BoxSilent, noSync, sync, 20010, {}, wrap},
        // Each bound to the millisecond: since the sync request, the last byte sent, the last byte received.
        {"a type read at the sync's bound", f.mot, {}, O::Success, matched, matchedWire, 20000, typeLate(20000)},
        {"a type read 1 ms past it", f.mot, {}, O::BoxSilent, noSync, sync, 20001, typeLate(20001)},
        {"an answer at the bound after a send", f.bin, type2Erase, O::Success, binDone, binWire, b + 230, sentLate(b)},
        {"an answer 1 ms past it", f.bin, type2Erase, O::BoxSilent, binHeaderSilent, binHead, b + 31, sentLate(b + 1)},
        {"an answer at the bound after a receipt", f.mot, {}, O::Success, matched, matchedWire, 1000 + b, gotLate(b)},
        {"an answer 1 ms past that", f.mot, {}, O::BoxSilent, eraseSilent, motHead, 1001 + b, gotLate(b + 1)},
        {"a type 2 box, an S-record file", f.mot, type2, O::BoxRefused, motWrong, refused},
        {"a type 1 box, a binary file", f.bin, {}, O::BoxRefused, binWrong, refused},
        {"two retries of the length", f.mot, {.retriesAfterLength = 2}, O::Success, retried, lengthThrice},
        {"length refused", f.mot, {.refuseAt = S::Length}, O::BoxRefused, concat(lengthSent, {cannot}), motHead},
        {"erase failed", f.mot, {.refuseAt = S::Erase}, O::BoxRefused, eraseFailed, motHead},
        {"data refused", f.mot, {.refuseAt = S::Data}, O::BoxRefused, concat(flashed, {cannot}), motWire},
        {"strays in an erase", f.mot, strayErase, O::Success, matched, matchedWire, 500},
        {"an erase within the bound", f.mot, {.eraseMs = 25000}, O::Success, matched, matchedWire, 25000},
        // Silent at the erase, as far as the tool can tell.
        {"an erase past the bound", f.mot, {.eraseMs = 3 * b}, O::BoxSilent, eraseSilent, motHead, b + 15},
        {"corrupted read-back", f.mot, {.corruptReadBack = true}, O::VerifyFailed, differed, differedWire},
        // The bound runs from the end of the read attempt that brought the last bytes.
        {"short read-back", f.mot, {.shortReadBack = 10}, O::VerifyFailed, differed, differedWire, b + 200},
        {"silent at the length", f.mot, {.silentAt = S::Length}, O::BoxSilent, silentLength, motHead, b + 15},
        {"silent after the data", f.mot, {.silentAt = S::Data}, O::BoxSilent, dataSilent, motWire, b + 15},
        {"silent at the read-back", f.mot, {.silentAt = S::ReadBack}, O::BoxSilent, readBackSilent, motWire, b + 100},
        {"a hang-up at the sync", f.mot, {.hangUpAt = S::Sync}, O::BoxSilent, concat(synced, {silent}), sync},
        {"a hang-up in the data", f.mot, {.hangUpAt = S::Data}, O::BoxSilent, dataSilent, motWire, 0, {}, cut},
        // The box ends the data block after 200 ms without a byte.
        {"type 2, no read-back", f.bin, type2, O::Success, binDone, binWire, 230},
        {"type 2, the header twice", f.bin, type2Retry, O::Success, binRetried, binTwice, 260},
        // The most a read-back can hold, from byte 6 on.
        {"the largest binary image", f.largest, type2ReadBack, O::Success, largest, largestWire, 230},
        // A cancel request ends the stage it comes in at once.
        {"cancel while synchronising", f.mot, {.silentAt = S::Sync}, O::Cancelled, cancelSync, sync, 0, always},
        {"cancel in the erase", f.mot, {.eraseMs = 5000}, O::Cancelled, cancelErase, motHead, 1005, after1s},
        {"cancel in the data", f.mot, {}, O::Cancelled, cancelData, motWire, 0, after20000Bytes, cut},
        // Nothing after the image: no verdict goes to the box.
        {"cancel before the read-back", f.mot, {}, O::Cancelled, cancelReading, motWire, 0, whenReading},
        // Nothing goes to the box before the image is built.
        {"no box", f.mot, {}, O::LinkFailed, {opening, noUsb}, {}, 0, {}, Scenario::kUnplugged},
        {"no reopen", f.bin, type2, O::LinkFailed, {opening, loading, noUsb}, {}, 0, {}, Scenario::kNoReopen},
        {"no data", f.noData, {}, O::DataFailed, noData},
        {"misplaced data", f.misplaced, {}, O::DataFailed, misplaced},
    };
}

// Runs one scenario into a box of its own and checks how it ended; the device
// is closed afterwards whatever the outcome.
inline void RunScenario(const Scenario& s) {
    SimulatedBox box(s.behaviour, s.setup == Scenario::kNearTheWrap ? 0u - 5000 : 0);
    box.driver.Device(box.slot).present = s.setup != Scenario::kUnplugged;
    box.status.AppendStatus("a line of the download before");
    SessionOptions options = box.Options();
    // A copy of the hook for each run, as a hook may keep state and a scenario may run again.
    options.cancelRequested = box.Bounded([&box, onPoll = s.onPoll]() mutable { return onPoll && onPoll(box); });
    if (s.setup == Scenario::kNoReopen)  // the device takes the first line rate and no other
        options.usbDeviceOpened = [&box](int) { box.driver.Device(box.slot).refuseBaudRate = true; };
    const std::uint32_t startMs = box.clock.TickMs();
    EXPECT_EQ(RunDownload("USB", s.file, box.status, options), s.outcome);
    EXPECT_EQ(box.clock.TickMs() - startMs, s.waitedMs);
    EXPECT_EQ(box.status.lines(), s.lines);
    // Each stage is told right after its own line, and every such line is followed by its stage.
    std::vector<std::pair<SessionStage, std::size_t>> stages;
    for (std::size_t at = 0; at < s.lines.size(); ++at)
        if (s.lines[at] == kOpening || s.lines[at] == kWaiting)
            stages.emplace_back(s.lines[at] == kOpening ? SessionStage::OpeningLink : SessionStage::Synchronising,
                                at + 1);
    EXPECT_EQ(box.status.stages(), stages);
    const Bytes written = box.Written();
    const bool cut = written.size() > 2 + kLengthBytes.size() && written.size() < s.wire.size() &&
                     std::equal(written.begin(), written.end(), s.wire.begin());
    EXPECT_TRUE(s.setup == Scenario::kCutInTheData ? cut : written == s.wire) << written.size() << " bytes written";
    EXPECT_FALSE(box.driver.IsOpen(box.slot));
    // The link opens at the S-record rate, and a binary image opens it again at its own.
    std::vector<std::uint32_t> rates = {115200, 38400};
    rates.resize(s.setup == Scenario::kUnplugged                               ? 0
                 : s.setup == Scenario::kNoReopen || !s.file.ends_with(".bin") ? 1
                                                                               : 2);
    EXPECT_EQ(box.driver.BaudRates(box.slot), rates);
    // 8 data bits, two stop bits, no parity; and what waits from before is purged ahead of each synchronisation.
    const std::optional<emulator::SimulatedLineSettings> framed = emulator::SimulatedLineSettings{8, 2, 0};
    EXPECT_EQ(box.driver.DataCharacteristics(box.slot), s.setup == Scenario::kUnplugged ? std::nullopt : framed);
    EXPECT_EQ(box.driver.Calls().prepareForSync, std::ranges::count(s.lines, kWaiting));
}

}  // namespace kestrel::testing
