// The tool's side of the handshake, FlashData and then VerifyData, against a
// box that answers whatever bytes the input scripts, at whatever times, on a
// manual clock. Every run must end, with a result and the status line that
// belongs to it, and a read-back is accepted only when it was the image.
//
// Input: byte 0 the set-up (bit 0 source kind, bits 1-2 answer bound, bit 3
// cancel, bits 4-7 the clock's start), byte 1 when to cancel, bytes 2-3 the
// length of a binary image; the rest is the box's script (ScriptedUsbDriver.h).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "builders/OutputDataSelfProg.h"
#include "session/DataConverter.h"
#include "session/RecordingStatusList.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/ScriptedUsbDriver.h"

namespace {

using kestrel::DataConverter;

constexpr std::size_t kSetUpBytes = 4;
constexpr std::uint32_t kAnswerBoundsMs[4] = {30000, 1000, 100, 1};
const std::string kNotAnswering = "Error: box not answering";
const std::string kCancelled = "Error: download cancelled";

struct SetUp {
    std::uint8_t sourceKind;
    std::uint32_t answerBoundMs;
    bool cancel;
    std::uint32_t cancelAfterPolls;
    std::uint32_t clockStartMs;
    std::uint32_t binLength;
};

SetUp ReadSetUp(const std::uint8_t* data) {
    SetUp setUp{};
    setUp.sourceKind = (data[0] & 0x01) != 0 ? DataConverter::kSourceBin : DataConverter::kSourceMot;
    setUp.answerBoundMs = kAnswerBoundsMs[(data[0] >> 1) & 0x03];
    setUp.cancel = (data[0] & 0x08) != 0;
    setUp.cancelAfterPolls = data[1] * 16u;
    // Starts near the top of the tick count, too, so that it wraps during the exchange.
    const std::uint32_t start = data[0] >> 4;
    setUp.clockStartMs = start == 0 ? 0 : 0u - start * 1500u;
    // Short images too: the exchange must cope with fewer bytes than a header.
    const std::uint32_t length = (std::uint32_t{data[2]} << 8) | data[3];
    setUp.binLength = length < 64 ? length : std::min(length * 7, DataConverter::kOutputBufferSize);
    return setUp;
}

void BuildImage(DataConverter& session, const SetUp& setUp) {
    session.sourceKind = setUp.sourceKind;
    if (setUp.sourceKind == DataConverter::kSourceMot) {
        kestrel::OutputDataSelfProg builder;
        KESTREL_FUZZ_CHECK(builder.BuildOutput(session.records, session.OutputBuffer.data(), session.outputLength,
                                               DataConverter::kOutputBufferSize) == 0);
    } else {
        session.outputLength = setUp.binLength;
    }
    // A pattern instead of the builder's 0xFF, so that a shifted read-back differs.
    for (std::uint32_t i = 6; i < session.outputLength; ++i) {
        session.OutputBuffer[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
    }
}

const char* FlashLine(int result) {
    switch (result) {
    case 0:
    case 1:
        return "Writing data... ";
    case -1:
        return "Error: cannot erase flash";
    case -3:
    case -4:
        return "Error: Cannot program";
    case -5:
        return "Error: synchronize timeout";
    case DataConverter::kFlashBoxNotAnswering:
        return "Error: box not answering";
    case -7:
        return "Error: Wrong firmware type";
    case DataConverter::kFlashCancelled:
        return "Error: download cancelled";
    default:
        return nullptr;
    }
}

void CheckFlashWrites(const kestrel::fuzz::ScriptedUsbDriver& box, const DataConverter& session, int flashed) {
    const auto& written = box.Written();
    if (box.WriteFaultInjected()) {
        return;  // a refused or short write leaves its own gap in what the box saw
    }
    KESTREL_FUZZ_CHECK(!written.empty() && written[0] == 0x2A);
    if (flashed == -5) {
        KESTREL_FUZZ_CHECK(written.size() == 1);
    }
    if (flashed == -7) {
        KESTREL_FUZZ_CHECK(written.size() == 2 && written[1] == 0xFF);
    }
    if (flashed == 0 || flashed == 1) {
        const std::uint8_t type = session.sourceKind;
        KESTREL_FUZZ_CHECK(written.size() >= 2 && written[1] == (type ^ 0xFF));
        const std::uint32_t offset = type == DataConverter::kSourceMot ? 0 : 30;
        const std::uint32_t block = session.outputLength > offset ? session.outputLength - offset : 0;
        KESTREL_FUZZ_CHECK(written.size() >= 2 + block);
        KESTREL_FUZZ_CHECK(std::equal(written.end() - block, written.end(), session.OutputBuffer.begin() + offset));
    }
}

void CheckVerify(const kestrel::fuzz::ScriptedUsbDriver& box, const DataConverter& session, int verified,
                 const std::string& lastLine, bool cancelled, std::size_t writtenBefore) {
    const auto taken = box.TakenSinceReadBack();
    const std::uint32_t expected = session.outputLength > 6 ? session.outputLength - 6 : 0;
    const auto& written = box.Written();
    switch (verified) {
    case 0:
        KESTREL_FUZZ_CHECK(lastLine == "Verify data...");
        // A changed byte never passes, nor does a read-back of the wrong length.
        KESTREL_FUZZ_CHECK(!taken.changed);
        KESTREL_FUZZ_CHECK(taken.faithful + taken.other == expected);
        KESTREL_FUZZ_CHECK(written.size() == writtenBefore + 1 && written.back() == 0x53);
        break;
    case -1:
        KESTREL_FUZZ_CHECK(lastLine == "Error: data verify");
        KESTREL_FUZZ_CHECK(box.WriteFaultInjected() || (written.size() == writtenBefore + 1 && written.back() == 0x45));
        break;
    case DataConverter::kVerifyBoxNotAnswering:
        KESTREL_FUZZ_CHECK(lastLine == kNotAnswering);
        break;
    case DataConverter::kVerifyCancelled:
        KESTREL_FUZZ_CHECK(lastLine == kCancelled && cancelled);
        break;
    default:
        KESTREL_FUZZ_CHECK(!"VerifyData gave an unknown result");
    }
    // The whole image, faithfully and nothing else, with the box still there: it must pass.
    const bool faithful = taken.faithful == expected && taken.other == 0 && box.FaithfulTakenEarly() == 0;
    if (faithful && !cancelled && !box.WriteFaultInjected() && !box.Unplugged()) {
        KESTREL_FUZZ_CHECK(verified == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kSetUpBytes) {
        return -1;
    }
    const SetUp setUp = ReadSetUp(data);
    kestrel::ManualClock clock(setUp.clockStartMs);
    kestrel::fuzz::ScriptedUsbDriver box(clock, data + kSetUpBytes, size - kSetUpBytes);

    std::uint32_t polls = 0;
    bool cancelled = false;
    kestrel::SessionOptions options;
    options.usbDriver = &box;
    options.clock = &clock;
    options.answerTimeoutMs = setUp.answerBoundMs;
    if (setUp.cancel) {
        options.cancelRequested = [&] {
            cancelled = cancelled || ++polls > setUp.cancelAfterPolls;
            return cancelled;
        };
    }

    kestrel::RecordingStatusList status;
    auto session = std::make_unique<DataConverter>(status, options);
    kestrel::UsbLink::ForgetDeviceListing();
    KESTREL_FUZZ_CHECK(session->OpenInterface("USB", 115200) == 0);
    BuildImage(*session, setUp);
    box.SetReadBack(session->OutputBuffer.data() + 6, session->outputLength > 6 ? session->outputLength - 6 : 0);
    status.Clear();

    const int flashed = session->FlashData();
    const auto flashLines = status.lines();
    const char* line = FlashLine(flashed);
    KESTREL_FUZZ_CHECK(line != nullptr);
    KESTREL_FUZZ_CHECK(!flashLines.empty() && flashLines.front() == "Waiting for synchronising ... ");
    KESTREL_FUZZ_CHECK(flashLines.back() == line);
    if (flashed == DataConverter::kFlashCancelled) {
        KESTREL_FUZZ_CHECK(cancelled);
    }
    CheckFlashWrites(box, *session, flashed);

    if (flashed == 0) {
        const std::size_t writtenBefore = box.Written().size();
        box.StartReadBack();
        const int verified = session->VerifyData();
        CheckVerify(box, *session, verified, status.lines().back(), cancelled, writtenBefore);
    }
    return 0;
}
