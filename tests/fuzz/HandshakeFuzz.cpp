// The tool's side of the handshake, FlashData and then VerifyData, against a
// box that answers whatever bytes the input scripts, at whatever times, on a
// manual clock. Every run must end, with a result and the status line that
// belongs to it; no wait may outlast its bound; and a read-back is accepted
// only when it was the image, byte for byte.
//
// Input: byte 0 the set-up (bit 0 source kind, bits 1-2 answer bound, bit 3
// cancel, bits 4-7 the clock's start), byte 1 when to cancel, bytes 2-3 the
// length of a binary image; the rest is the box's script (see ScriptedBox).
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "builders/OutputDataSelfProg.h"
#include "session/DataConverter.h"
#include "session/RecordingStatusList.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

using kestrel::DataConverter;
using kestrel::UsbHandle;
using kestrel::UsbStatus;

// A USB driver whose one device answers from a script of bytes, with the
// timing the script asks for: a read that has to wait moves the manual clock on
// instead of sleeping. The script is taken one event at a time, whenever the
// tool reads and nothing is waiting; once it is used up the device stays
// silent. Each event starts with one byte: its low three bits give the kind,
// the upper five an argument `a` (0 to 31).
//
//   0  the next a % 8 + 1 script bytes, as they stand
//   1  a pause of a x 1000 ms before whatever comes next
//   2  the next (a + 1) x 2048 bytes of a faithful read-back (a = 31: all the rest)
//   3  one common answer, {01 02 'R' 'E' '*' 'N' 'S' 00}[a % 8], after a pause
//      of {0, 10, 1000, 25000}[a / 8] ms
//   4  the rest of the read-back with one byte changed; the next script byte picks which
//   5  the device is unplugged
//   6  the next write fails (a even) or takes one byte less than it was given (a odd)
//   7  a + 1 bytes of a faithful read-back
struct ScriptedBox final : kestrel::UsbDriver {
    static constexpr UsbStatus kRefused = 2, kGone = 5;

    ScriptedBox(kestrel::ManualClock& manualClock, const std::uint8_t* script, std::size_t size)
        : clock(manualClock), at(script), end(script + size), lastActivityMs(manualClock.TickMs()) {}

    // One device, opened at the first index tried; the link is the only caller, so
    // handles go unchecked, and it only needs the listing to succeed.
    UsbStatus CountDevices(std::uint32_t&) override { return 0; }
    UsbStatus ListDevices(std::vector<kestrel::UsbDeviceInfo>&) override { return 0; }
    UsbStatus Open(int, UsbHandle& handle) override {
        handle = 1;
        return 0;
    }
    UsbStatus Close(UsbHandle) override { return 0; }
    UsbStatus SetBaudRate(UsbHandle, std::uint32_t) override { return 0; }
    UsbStatus SetDataCharacteristics(UsbHandle, std::uint8_t, std::uint8_t, std::uint8_t) override { return 0; }
    UsbStatus PrepareForSync(UsbHandle) override {
        received.clear();
        return Status();
    }
    kestrel::Clock& TimeBase() override { return clock; }

    UsbStatus Write(UsbHandle, const std::uint8_t* data, std::uint32_t count, std::uint32_t& written) override {
        written = 0;
        // Bounds the length and header retries, whose paced single bytes take real time.
        if (count == 1 && ++singleByteWrites > 160)
            gone = true;
        if (gone)
            return kGone;
        if (std::exchange(failNextWrite, false)) {
            writeFault = true;
            return kRefused;
        }
        written = count;
        if (count > 0 && std::exchange(shortNextWrite, false)) {
            writeFault = true;
            --written;
        }
        sent.insert(sent.end(), data, data + written);
        NoteActivity(written > 0);
        return 0;
    }

    UsbStatus Read(UsbHandle, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& got,
                   std::uint32_t timeoutMs) override {
        got = 0;
        for (const std::uint32_t startMs = clock.TickMs();;) {
            if (const UsbStatus status = Pump(); status != 0)
                return status;
            if (Readable()) {
                for (; got < count && !received.empty(); ++got, received.pop_front()) {
                    taken.push_back(buffer[got] = received.front());
                }
                NoteActivity(got > 0);
                if (got == count)
                    return 0;
                continue;  // all that waited is taken: the script may have more
            }
            const std::uint32_t elapsed = clock.TickMs() - startMs;
            if (elapsed >= timeoutMs)
                return 0;
            std::uint32_t waitMs = timeoutMs - elapsed;
            if (!received.empty())
                waitMs = std::min(waitMs, pauseMs - (clock.TickMs() - pauseFromMs));
            clock.Advance(std::max<std::uint32_t>(waitMs, 1));
            NoteActivity(false);  // a wait without end fails here instead of hanging
        }
    }

    UsbStatus QueueStatus(UsbHandle, std::uint32_t& waiting) override {
        const UsbStatus status = Pump();
        waiting = status == 0 && Readable() ? static_cast<std::uint32_t>(received.size()) : 0;
        return status;
    }

    UsbStatus Status() const { return gone ? kGone : 0; }
    // No wait outlasts its bound: the time the tool waits with no byte sent or
    // received stays within the synchronisation's bound until it answered the
    // type, and within the answer bound after that, give or take one receive attempt.
    void NoteActivity(bool active) {
        const std::uint32_t boundMs = sent.size() < 2 ? DataConverter::kSyncTimeoutMs : answerBoundMs;
        KESTREL_FUZZ_CHECK(clock.TickMs() - lastActivityMs <= boundMs + 250);
        if (active)
            lastActivityMs = clock.TickMs();
    }
    bool Readable() const { return !received.empty() && clock.TickMs() - pauseFromMs >= pauseMs; }
    std::uint8_t Next() { return at < end ? *at++ : 0; }

    // Takes script events while nothing is waiting and no pause runs.
    UsbStatus Pump() {
        while (!gone && received.empty() && at < end)
            Apply(Next());
        return Status();
    }

    void Apply(std::uint8_t event) {
        static constexpr std::uint8_t kCommonAnswers[8] = {0x01, 0x02, 'R', 'E', '*', 'N', 'S', 0x00};
        static constexpr std::uint32_t kAnswerPausesMs[4] = {0, 10, 1000, 25000};
        const std::uint32_t a = event >> 3;
        switch (event & 0x07) {
            case 0:
                for (std::uint32_t i = 0; i <= a % 8 && at < end; ++i)
                    received.push_back(Next());
                break;
            case 1:
            case 3: {
                // A pause adds to what is left of the one running.
                const std::uint32_t elapsed = clock.TickMs() - pauseFromMs;
                const std::uint32_t added = (event & 0x07) == 1 ? a * 1000 : kAnswerPausesMs[a / 8];
                pauseMs = (elapsed < pauseMs ? pauseMs - elapsed : 0) + added;
                pauseFromMs = clock.TickMs();
                if ((event & 0x07) == 3)
                    received.push_back(kCommonAnswers[a % 8]);
                break;
            }
            case 2:
                QueueReadBack(a == 31 ? readBackCount : (a + 1) * 2048);
                break;
            case 4:
                QueueReadBack(readBackCount, true, Next() * 997u);
                break;
            case 5:
                gone = true;
                break;
            case 6:
                (a % 2 == 0 ? failNextWrite : shortNextWrite) = true;
                break;
            default:
                QueueReadBack(a + 1);
        }
    }

    void QueueReadBack(std::uint32_t count, bool changeOne = false, std::uint32_t changeAt = 0) {
        count = std::min(count, readBackCount - readBackAt);
        for (std::uint32_t i = 0; i < count; ++i) {
            const bool changed = changeOne && i == changeAt % count;
            received.push_back(static_cast<std::uint8_t>(readBack[readBackAt + i] ^ (changed ? 0x01 : 0x00)));
        }
        readBackAt += count;
    }

    kestrel::ManualClock& clock;
    const std::uint8_t* at;
    const std::uint8_t* end;
    std::deque<std::uint8_t> received;  // answered, not yet read
    std::uint32_t pauseFromMs = 0, pauseMs = 0;
    const std::uint8_t* readBack = nullptr;  // what a faithful box sends back: the image after its head
    std::uint32_t readBackCount = 0, readBackAt = 0;
    std::uint32_t lastActivityMs, answerBoundMs = 0;
    bool gone = false, failNextWrite = false, shortNextWrite = false, writeFault = false;
    std::size_t singleByteWrites = 0;
    std::vector<std::uint8_t> sent, taken;  // every byte the tool wrote, and read
};

// The last line FlashData leaves for each result it may give.
const std::map<int, std::string> kFlashLines = {{0, "Writing data... "},
                                                {1, "Writing data... "},
                                                {-1, "Error: cannot erase flash"},
                                                {-3, "Error: Cannot program"},
                                                {-4, "Error: Cannot program"},
                                                {-5, "Error: synchronize timeout"},
                                                {DataConverter::kFlashBoxNotAnswering, "Error: box not answering"},
                                                {-7, "Error: Wrong firmware type"},
                                                {DataConverter::kFlashCancelled, "Error: download cancelled"}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return -1;
    // Starts near the top of the tick count, too, so that it wraps during the exchange.
    kestrel::ManualClock clock(0u - (data[0] >> 4) * 1500u);
    ScriptedBox box(clock, data + 4, size - 4);
    static constexpr std::uint32_t kAnswerBoundsMs[4] = {30000, 1000, 100, 1};
    kestrel::SessionOptions options;
    options.usbDriver = &box;
    options.clock = &clock;
    options.answerTimeoutMs = kAnswerBoundsMs[(data[0] >> 1) & 0x03];
    box.answerBoundMs = options.answerTimeoutMs;
    bool cancelled = false;
    if ((data[0] & 0x08) != 0) {
        options.cancelRequested = [&cancelled, polls = 0u, limit = data[1] * 16u]() mutable {
            return cancelled = cancelled || ++polls > limit;
        };
    }

    kestrel::RecordingStatusList status;
    auto session = std::make_unique<DataConverter>(status, options);
    kestrel::UsbLink::ForgetDeviceListing();
    KESTREL_FUZZ_CHECK(session->OpenInterface("USB", 115200) == 0);
    // A self-programming image built from no records, or a binary one of the
    // length that bytes 2-3 ask for, short ones too: the exchange must cope with
    // fewer bytes than a header. A pattern instead of the builder's 0xFF, so that
    // a shifted read-back differs.
    session->sourceKind = (data[0] & 0x01) != 0 ? DataConverter::kSourceBin : DataConverter::kSourceMot;
    const std::uint32_t binLength = (std::uint32_t{data[2]} << 8) | data[3];
    session->outputLength = binLength < 64 ? binLength : std::min(binLength * 7, DataConverter::kOutputBufferSize);
    if (session->sourceKind == DataConverter::kSourceMot) {
        KESTREL_FUZZ_CHECK(kestrel::OutputDataSelfProg().BuildOutput(session->records, session->OutputBuffer.data(),
                                                                     session->outputLength,
                                                                     DataConverter::kOutputBufferSize) == 0);
    }
    for (std::uint32_t i = 6; i < session->outputLength; ++i) {
        session->OutputBuffer[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
    }
    const std::uint8_t* image = session->OutputBuffer.data();
    box.readBack = image + 6;
    box.readBackCount = session->outputLength > 6 ? session->outputLength - 6 : 0;
    status.Clear();

    const auto flashStart = std::chrono::steady_clock::now();
    const int flashed = session->FlashData();
    const auto flashMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - flashStart);
    const auto lines = status.lines();
    KESTREL_FUZZ_CHECK(kFlashLines.count(flashed) == 1 && lines.back() == kFlashLines.at(flashed));
    KESTREL_FUZZ_CHECK(lines.front() == "Waiting for synchronising ... ");
    KESTREL_FUZZ_CHECK(flashed != DataConverter::kFlashCancelled || cancelled);
    const auto& sent = box.sent;
    if (!box.writeFault) {  // a refused or short write leaves its own gap in what the box saw
        KESTREL_FUZZ_CHECK(!sent.empty() && sent[0] == 0x2A);
        KESTREL_FUZZ_CHECK(flashed != -5 || sent.size() == 1);
        KESTREL_FUZZ_CHECK(flashed != -7 || (sent.size() == 2 && sent[1] == 0xFF));
        if (flashed == 0 || flashed == 1) {
            // The type's complement, the length field (type 1, 8 bytes) or the header (type 2, 30 bytes)
            // as often as the box asked for it, then the data: a .bin's after its header.
            const bool mot = session->sourceKind == DataConverter::kSourceMot;
            const std::uint32_t head = mot ? 8 : 30, offset = mot ? 0 : 30;
            const std::uint32_t block = session->outputLength > offset ? session->outputLength - offset : 0;
            KESTREL_FUZZ_CHECK(sent.size() >= 2 + head + block && (sent.size() - 2 - block) % head == 0);
            // The box takes a header one byte at a time, each 1 ms or more after the one before.
            KESTREL_FUZZ_CHECK(mot || flashMs.count() >= static_cast<long long>(sent.size() - 2 - block));
            KESTREL_FUZZ_CHECK(sent[1] == (session->sourceKind ^ 0xFF));
            KESTREL_FUZZ_CHECK(std::equal(sent.end() - block, sent.end(), image + offset));
        }
    }

    if (flashed == 0) {
        const std::size_t sentBefore = sent.size();
        const auto takenBefore = static_cast<std::ptrdiff_t>(box.taken.size());
        const int verified = session->VerifyData();
        const std::string last = status.lines().back();
        const bool oneVerdict = sent.size() == sentBefore + 1;
        // The tool read back exactly the image, byte for byte.
        const bool readImage = box.taken.size() - takenBefore == box.readBackCount &&
                               std::equal(box.taken.begin() + takenBefore, box.taken.end(), image + 6);
        switch (verified) {
            case 0:  // a changed byte never passes, nor does a read-back of the wrong length
                KESTREL_FUZZ_CHECK(last == "Verify data..." && readImage && oneVerdict && sent.back() == 'S');
                break;
            case -1:
                KESTREL_FUZZ_CHECK(last == "Error: data verify" &&
                                   (box.writeFault || (oneVerdict && sent.back() == 'E')));
                break;
            case DataConverter::kVerifyBoxNotAnswering:
                KESTREL_FUZZ_CHECK(last == "Error: box not answering");
                break;
            default:
                KESTREL_FUZZ_CHECK(verified == DataConverter::kVerifyCancelled && cancelled);
                KESTREL_FUZZ_CHECK(last == "Error: download cancelled");
        }
        // The whole image read back with the box still there: it must pass.
        KESTREL_FUZZ_CHECK(verified == 0 || !readImage || cancelled || box.writeFault || box.gone);
    }
    box.NoteActivity(false);
    return 0;
}
