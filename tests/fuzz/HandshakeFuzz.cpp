// The tool's side of the handshake, FlashData and then VerifyData, against a
// box that answers whatever bytes the input scripts, at whatever times, on a
// manual clock. Every run must end, with a result and the status line that
// belongs to it; no wait may outlast its bound; and a read-back is accepted
// only when it was the image, byte for byte. What the tool sends on an orderly
// exchange is the session scenarios' to check.
//
// Input: byte 0 the set-up (bit 0 source kind, bits 1-2 answer bound, bits 4-7
// the clock's start), byte 1 unused, bytes 2-3 the length of a binary image;
// the rest is the box's script (see ScriptedBox).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "builders/OutputDataSelfProg.h"
#include "session/DataConverter.h"
#include "session/RecordingStatusList.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

using kestrel::DataConverter;
using kestrel::UsbHandle;
using kestrel::UsbStatus;

// A USB driver whose one device answers from a script: a read that has to wait
// moves the manual clock on instead of sleeping, as the header's pauses do. The script is taken one event
// at a time, whenever the tool reads and nothing is waiting; once it is used up
// the device stays silent. An event's low three bits give its kind, the upper
// five an argument `a` (0 to 31):
//   0  the next a % 8 + 1 script bytes, as they stand
//   1  a pause of a x 1000 ms before whatever comes next
//   2  the next (a + 1) x 2048 bytes of a faithful read-back (a = 31: all the rest)
//   3  {01 02 'R' 'E' '*' 'N' 'S' 00}[a % 8] after a pause of {0, 10, 1000, 25000}[a / 8] ms
//   4  the rest of the read-back with one byte changed; the next script byte picks which
//   5, 6  the device is unplugged
//   7  a + 1 bytes of a faithful read-back
struct ScriptedBox final : kestrel::UsbDriver {
    ScriptedBox(kestrel::ManualClock& manualClock, const std::uint8_t* script, std::size_t size)
        : clock(manualClock), at(script), end(script + size), lastActivityMs(manualClock.TickMs()) {}

    UsbStatus CountDevices(std::uint32_t&) override { return 0; }
    UsbStatus ListDevices(std::vector<kestrel::UsbDeviceInfo>&) override { return 0; }
    UsbStatus Open(int, UsbHandle& handle, kestrel::UsbOpenProblem& problem) override {
        handle = 1;
        problem = kestrel::UsbOpenProblem::None;
        return 0;
    }
    UsbStatus Close(UsbHandle) override { return 0; }
    UsbStatus SetBaudRate(UsbHandle, std::uint32_t) override { return 0; }
    UsbStatus SetDataCharacteristics(UsbHandle, std::uint8_t, std::uint8_t, std::uint8_t) override { return 0; }
    // The handshake waits in Read; nothing asks what is queued.
    UsbStatus QueueStatus(UsbHandle, std::uint32_t& waiting) override {
        waiting = 0;
        return Status();
    }
    // Called before the first read, while nothing of the script waits yet.
    UsbStatus PrepareForSync(UsbHandle) override { return Status(); }
    kestrel::Clock& TimeBase() override { return clock; }

    UsbStatus Write(UsbHandle, const std::uint8_t* data, std::uint32_t count, std::uint32_t& written) override {
        written = gone ? 0 : count;
        sent.insert(sent.end(), data, data + written);
        NoteActivity(written > 0);
        return Status();
    }

    UsbStatus Read(UsbHandle, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& got,
                   std::uint32_t timeoutMs) override {
        got = 0;
        for (const std::uint32_t startMs = clock.TickMs();;) {
            while (!gone && received.empty() && at < end)
                Apply(Next());
            if (gone)
                return Status();
            if (Readable()) {
                for (; got < count && !received.empty(); ++got, received.pop_front())
                    taken.push_back(buffer[got] = received.front());
                NoteActivity(got > 0);
                if (got == count)
                    return 0;
                continue;  // all that waited is taken: the script may have more
            }
            const std::uint32_t elapsed = clock.TickMs() - startMs;
            if (elapsed >= timeoutMs)
                return 0;
            std::uint32_t waitMs = timeoutMs - elapsed;
            if (!received.empty())  // to the end of the running pause
                waitMs = std::min(waitMs, pauseMs - (clock.TickMs() - pauseFromMs));
            clock.Advance(std::max<std::uint32_t>(waitMs, 1));
            NoteActivity(false);  // a wait without end fails here instead of hanging
        }
    }

    UsbStatus Status() const { return gone ? 5 : 0; }  // 5: the device is gone
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

    void Apply(std::uint8_t event) {
        static constexpr std::uint8_t kCommonAnswers[8] = {0x01, 0x02, 'R', 'E', '*', 'N', 'S', 0x00};
        static constexpr std::uint32_t kAnswerPausesMs[4] = {0, 10, 1000, 25000};
        const std::uint32_t a = event >> 3, kind = event & 0x07;
        if (kind == 0) {
            for (std::uint32_t i = 0; i <= a % 8 && at < end; ++i)
                received.push_back(Next());
        } else if (kind == 1 || kind == 3) {
            // A pause adds to what is left of the one running.
            const std::uint32_t elapsed = clock.TickMs() - pauseFromMs;
            pauseMs = (elapsed < pauseMs ? pauseMs - elapsed : 0) + (kind == 1 ? a * 1000 : kAnswerPausesMs[a / 8]);
            pauseFromMs = clock.TickMs();
            if (kind == 3)
                received.push_back(kCommonAnswers[a % 8]);
        } else if (kind == 5 || kind == 6) {
            gone = true;
        } else {
            const std::uint32_t left = readBackCount - readBackAt;
            std::uint32_t count = kind == 7 ? a + 1 : (a + 1) * 2048;
            if (kind == 4 || (kind == 2 && a == 31) || count > left)
                count = left;
            const std::uint32_t changeAt = kind == 4 ? Next() * 997u % std::max(count, 1u) : count;
            for (std::uint32_t i = 0; i < count; ++i)
                received.push_back(static_cast<std::uint8_t>(readBack[readBackAt++] ^ (i == changeAt ? 0x01 : 0x00)));
        }
    }

    kestrel::ManualClock& clock;
    const std::uint8_t* at;
    const std::uint8_t* end;
    std::deque<std::uint8_t> received;  // answered, not yet read
    std::uint32_t pauseFromMs = 0, pauseMs = 0;
    const std::uint8_t* readBack = nullptr;  // what a faithful box sends back: the image after its head
    std::uint32_t readBackCount = 0, readBackAt = 0;
    std::uint32_t lastActivityMs, answerBoundMs = 0;
    bool gone = false;
    std::vector<std::uint8_t> sent, taken;  // every byte the tool wrote, and read
};

// The last line each result leaves: FlashData's from 1 down to -7 (-2 is
// none), VerifyData's from 0 down to -2. Nothing asks to cancel: the
// scenarios cancel at each stage.
const std::string kFlashLines[] = {
    "Writing data... ",          "Writing data... ",      "Error: cannot erase flash",  "(none)",
    "Error: Cannot program",     "Error: Cannot program", "Error: synchronize timeout", "Error: box not answering",
    "Error: Wrong firmware type"};
const std::string kVerifyLines[] = {"Verify data...", "Error: data verify", "Error: box not answering"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return -1;
    // Starts near the top of the tick count, too, so that it wraps during the exchange.
    kestrel::ManualClock clock(0u - (data[0] >> 4) * 1500u);
    ScriptedBox box(clock, data + 4, size - 4);
    static constexpr std::uint32_t kAnswerBoundsMs[4] = {30000, 1000, 100, 1};
    box.answerBoundMs = kAnswerBoundsMs[(data[0] >> 1) & 0x03];
    const kestrel::SessionOptions options{.usbDriver = &box, .clock = &clock, .answerTimeoutMs = box.answerBoundMs};

    kestrel::RecordingStatusList status;
    auto session = std::make_unique<DataConverter>(status, options);
    kestrel::UsbLink::ForgetDeviceListing();
    KESTREL_FUZZ_CHECK(session->OpenInterface("USB", 115200) == 0);
    // A self-programming image's length, or a binary one of the length that
    // bytes 2-3 ask for (above 63 times 7, which still fits the buffer), short
    // ones too: the exchange must cope with fewer bytes than a header. A
    // pattern, so that a shifted read-back differs.
    const bool mot = (data[0] & 0x01) == 0;
    session->sourceKind = mot ? DataConverter::kSourceMot : DataConverter::kSourceBin;
    const std::uint32_t binLength = (std::uint32_t{data[2]} << 8) | data[3];
    session->outputLength = mot              ? kestrel::OutputDataSelfProg::kImageLength
                            : binLength < 64 ? binLength
                                             : binLength * 7;
    for (std::uint32_t i = 0; i < session->outputLength; ++i)
        session->OutputBuffer[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
    box.readBack = session->OutputBuffer.data() + 6;
    box.readBackCount = session->outputLength > 6 ? session->outputLength - 6 : 0;

    const int flashed = session->FlashData();
    KESTREL_FUZZ_CHECK(status.lines().front() == "Waiting for synchronising ... ");
    KESTREL_FUZZ_CHECK(flashed <= 1 && flashed >= -7 && status.lines().back() == kFlashLines[1 - flashed]);
    if (flashed == 0) {
        const auto takenBefore = static_cast<std::ptrdiff_t>(box.taken.size());
        const int verified = session->VerifyData();
        KESTREL_FUZZ_CHECK(verified <= 0 && verified >= -2 && status.lines().back() == kVerifyLines[-verified]);
        KESTREL_FUZZ_CHECK(verified != -1 || box.gone || box.sent.back() == 'E');
        // A changed, missing or extra byte never passes; the whole image, with
        // the box still there, always does.
        const bool readImage = box.taken.size() - takenBefore == box.readBackCount &&
                               std::equal(box.taken.begin() + takenBefore, box.taken.end(), box.readBack);
        KESTREL_FUZZ_CHECK(verified != 0 || (readImage && box.sent.back() == 'S'));
        KESTREL_FUZZ_CHECK(verified == 0 || !readImage || box.gone);
    }
    box.NoteActivity(false);
    return 0;
}
