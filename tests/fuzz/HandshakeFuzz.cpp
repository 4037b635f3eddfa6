// The tool's side of the handshake, FlashData and then VerifyData, against a
// box that answers whatever bytes the input scripts, at whatever times, on a
// manual clock. Every run must end, with a result and the status line that
// belongs to it, and a read-back is accepted only when it was the image.
//
// Input: byte 0 the set-up (bit 0 source kind, bits 1-2 answer bound, bit 3
// cancel, bits 4-7 the clock's start), byte 1 when to cancel, bytes 2-3 the
// length of a binary image; the rest is the box's script (see ScriptedBox).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "builders/OutputDataSelfProg.h"
#include "links/Clock.h"
#include "links/UsbDriver.h"
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
class ScriptedBox final : public kestrel::UsbDriver {
public:
    ScriptedBox(kestrel::ManualClock& clock, const std::uint8_t* script, std::size_t size)
        : clock_(clock), at_(script), end_(script + size), lastActivityMs_(clock.TickMs()) {}

    // The longest time the tool waited with no byte sent or received, up to now.
    std::uint32_t LongestSilenceMs() {
        NoteActivity(false);
        return longestSilenceMs_;
    }

    // What a faithful box sends back: the image bytes that follow its head.
    void SetReadBack(const std::uint8_t* bytes, std::uint32_t count) {
        readBack_ = bytes;
        readBackCount_ = count;
    }
    const std::vector<std::uint8_t>& Written() const { return written_; }
    const std::vector<std::uint8_t>& Taken() const { return taken_; }  // every byte the tool read
    bool WriteFaultInjected() const { return writeFault_; }
    bool Unplugged() const { return gone_; }

    UsbStatus CountDevices(std::uint32_t& count) override {
        count = 1;
        return 0;
    }
    UsbStatus ListDevices(std::vector<kestrel::UsbDeviceInfo>& devices) override {
        devices.assign(1, {.index = 0, .description = "Kestrel box", .serialNumber = "FUZZ0001"});
        return 0;
    }
    UsbStatus Open(int index, UsbHandle& handle) override {
        if (index != 0 || open_) {
            return kNoDevice;
        }
        open_ = true;
        handle = kHandle;
        return 0;
    }
    UsbStatus Close(UsbHandle handle) override {
        if (!Mine(handle)) {
            return kBadHandle;
        }
        open_ = false;
        return 0;
    }
    UsbStatus SetBaudRate(UsbHandle handle, std::uint32_t) override { return Check(handle, false); }
    UsbStatus SetDataCharacteristics(UsbHandle handle, std::uint8_t, std::uint8_t, std::uint8_t) override {
        return Check(handle, false);
    }
    UsbStatus PrepareForSync(UsbHandle handle) override {
        if (!Mine(handle)) {
            return kBadHandle;
        }
        received_.clear();
        return Check(handle, true);
    }

    UsbStatus Write(UsbHandle handle, const std::uint8_t* data, std::uint32_t count, std::uint32_t& written) override {
        written = 0;
        // Bounds the length and header retries, whose paced single bytes take real time.
        if (Mine(handle) && count == 1 && ++singleByteWrites_ > 160) {
            gone_ = true;
        }
        if (const UsbStatus status = Check(handle, true); status != 0) {
            return status;
        }
        if (std::exchange(failNextWrite_, false)) {
            writeFault_ = true;
            return kWriteRefused;
        }
        written = count;
        if (count > 0 && std::exchange(shortNextWrite_, false)) {
            writeFault_ = true;
            --written;
        }
        written_.insert(written_.end(), data, data + written);
        NoteActivity(written > 0);
        return 0;
    }

    UsbStatus Read(UsbHandle handle, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received,
                   std::uint32_t timeoutMs) override {
        received = 0;
        const std::uint32_t startMs = clock_.TickMs();
        for (;;) {
            if (const UsbStatus status = Pump(handle); status != 0) {
                return status;
            }
            if (Readable()) {
                for (; received < count && !received_.empty(); ++received) {
                    buffer[received] = received_.front();
                    taken_.push_back(received_.front());
                    received_.pop_front();
                }
                NoteActivity(received > 0);
                if (received == count) {
                    return 0;
                }
                continue;  // all that waited is taken: the script may have more
            }
            const std::uint32_t elapsed = clock_.TickMs() - startMs;
            if (elapsed >= timeoutMs) {
                NoteActivity(false);
                return 0;
            }
            std::uint32_t waitMs = timeoutMs - elapsed;
            if (!received_.empty()) {
                waitMs = std::min(waitMs, pauseMs_ - (clock_.TickMs() - pauseFromMs_));
            }
            clock_.Advance(std::max<std::uint32_t>(waitMs, 1));
        }
    }

    UsbStatus QueueStatus(UsbHandle handle, std::uint32_t& waiting) override {
        const UsbStatus status = Pump(handle);
        waiting = status == 0 && Readable() ? static_cast<std::uint32_t>(received_.size()) : 0;
        return status;
    }

    kestrel::Clock& TimeBase() override { return clock_; }

private:
    static constexpr UsbHandle kHandle = 1;
    static constexpr UsbStatus kNoDevice = 2;
    static constexpr UsbStatus kBadHandle = 4;
    static constexpr UsbStatus kDeviceGone = 5;
    static constexpr UsbStatus kWriteRefused = 6;

    bool Mine(UsbHandle handle) const { return handle == kHandle && open_; }
    UsbStatus Check(UsbHandle handle, bool needsDevice) const {
        return !Mine(handle) ? kBadHandle : needsDevice && gone_ ? kDeviceGone : 0;
    }
    void NoteActivity(bool active) {
        const std::uint32_t nowMs = clock_.TickMs();
        longestSilenceMs_ = std::max(longestSilenceMs_, nowMs - lastActivityMs_);
        if (active) {
            lastActivityMs_ = nowMs;
        }
    }
    bool Readable() const { return !received_.empty() && clock_.TickMs() - pauseFromMs_ >= pauseMs_; }
    std::uint8_t Next() { return at_ < end_ ? *at_++ : 0; }

    // Takes script events while nothing is waiting and no pause runs.
    UsbStatus Pump(UsbHandle handle) {
        while (Mine(handle) && received_.empty() && !gone_ && at_ < end_) {
            Apply(Next());
        }
        return Check(handle, true);
    }

    void Apply(std::uint8_t event) {
        static constexpr std::uint8_t kCommonAnswers[8] = {0x01, 0x02, 'R', 'E', '*', 'N', 'S', 0x00};
        static constexpr std::uint32_t kAnswerPausesMs[4] = {0, 10, 1000, 25000};
        const std::uint32_t a = event >> 3;
        switch (event & 0x07) {
            case 0:
                for (std::uint32_t i = 0; i <= a % 8 && at_ < end_; ++i) {
                    received_.push_back(Next());
                }
                break;
            case 1:
            case 3: {
                // A pause adds to what is left of the one running.
                const std::uint32_t nowMs = clock_.TickMs();
                const std::uint32_t elapsed = nowMs - pauseFromMs_;
                const std::uint32_t left = elapsed < pauseMs_ ? pauseMs_ - elapsed : 0;
                pauseFromMs_ = nowMs;
                pauseMs_ = left + ((event & 0x07) == 1 ? a * 1000 : kAnswerPausesMs[a / 8]);
                if ((event & 0x07) == 3) {
                    received_.push_back(kCommonAnswers[a % 8]);
                }
                break;
            }
            case 2:
                QueueReadBack(a == 31 ? readBackCount_ : (a + 1) * 2048);
                break;
            case 4:
                QueueReadBack(readBackCount_, true, Next() * 997u);
                break;
            case 5:
                gone_ = true;
                break;
            case 6:
                (a % 2 == 0 ? failNextWrite_ : shortNextWrite_) = true;
                break;
            default:
                QueueReadBack(a + 1);
                break;
        }
    }

    void QueueReadBack(std::uint32_t count, bool changeOne = false, std::uint32_t changeAt = 0) {
        count = std::min(count, readBackCount_ - readBackAt_);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t value = readBack_[readBackAt_ + i];
            received_.push_back(changeOne && i == changeAt % count ? static_cast<std::uint8_t>(value ^ 0x01) : value);
        }
        readBackAt_ += count;
    }

    kestrel::ManualClock& clock_;
    const std::uint8_t* at_;
    const std::uint8_t* end_;
    std::deque<std::uint8_t> received_;
    std::uint32_t pauseFromMs_ = 0;
    std::uint32_t pauseMs_ = 0;
    const std::uint8_t* readBack_ = nullptr;
    std::uint32_t readBackCount_ = 0;
    std::uint32_t readBackAt_ = 0;
    std::uint32_t lastActivityMs_;
    std::uint32_t longestSilenceMs_ = 0;
    bool open_ = false;
    bool gone_ = false;
    bool failNextWrite_ = false;
    bool shortNextWrite_ = false;
    bool writeFault_ = false;
    std::size_t singleByteWrites_ = 0;
    std::vector<std::uint8_t> written_;
    std::vector<std::uint8_t> taken_;
};

// A self-programming image built from no records, or a binary one of the
// length that bytes 2-3 ask for.
void BuildImage(DataConverter& session, const std::uint8_t* data) {
    session.sourceKind = (data[0] & 0x01) != 0 ? DataConverter::kSourceBin : DataConverter::kSourceMot;
    if (session.sourceKind == DataConverter::kSourceMot) {
        KESTREL_FUZZ_CHECK(kestrel::OutputDataSelfProg().BuildOutput(session.records, session.OutputBuffer.data(),
                                                                     session.outputLength,
                                                                     DataConverter::kOutputBufferSize) == 0);
    } else {
        // Short images too: the exchange must cope with fewer bytes than a header.
        const std::uint32_t length = (std::uint32_t{data[2]} << 8) | data[3];
        session.outputLength = length < 64 ? length : std::min(length * 7, DataConverter::kOutputBufferSize);
    }
    // A pattern instead of the builder's 0xFF, so that a shifted read-back differs.
    for (std::uint32_t i = 6; i < session.outputLength; ++i) {
        session.OutputBuffer[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
    }
}

// The last line FlashData leaves for each result it may give.
const std::map<int, std::string> kFlashLines = {
    {0, "Writing data... "},
    {1, "Writing data... "},
    {-1, "Error: cannot erase flash"},
    {-3, "Error: Cannot program"},
    {-4, "Error: Cannot program"},
    {-5, "Error: synchronize timeout"},
    {DataConverter::kFlashBoxNotAnswering, "Error: box not answering"},
    {-7, "Error: Wrong firmware type"},
    {DataConverter::kFlashCancelled, "Error: download cancelled"},
};

void CheckFlashWrites(const ScriptedBox& box, const DataConverter& session, int flashed) {
    const auto& written = box.Written();
    if (box.WriteFaultInjected()) {
        return;  // a refused or short write leaves its own gap in what the box saw
    }
    KESTREL_FUZZ_CHECK(!written.empty() && written[0] == 0x2A);
    KESTREL_FUZZ_CHECK(flashed != -5 || written.size() == 1);
    KESTREL_FUZZ_CHECK(flashed != -7 || (written.size() == 2 && written[1] == 0xFF));
    if (flashed == 0 || flashed == 1) {
        const std::uint8_t type = session.sourceKind;
        KESTREL_FUZZ_CHECK(written.size() >= 2 && written[1] == (type ^ 0xFF));
        const std::uint32_t offset = type == DataConverter::kSourceMot ? 0 : 30;
        const std::uint32_t block = session.outputLength > offset ? session.outputLength - offset : 0;
        KESTREL_FUZZ_CHECK(written.size() >= 2 + block);
        KESTREL_FUZZ_CHECK(std::equal(written.end() - block, written.end(), session.OutputBuffer.begin() + offset));
    }
}

void CheckVerify(const ScriptedBox& box, const DataConverter& session, int verified, const std::string& lastLine,
                 bool cancelled, std::size_t writtenBefore, std::size_t takenBefore) {
    const auto& written = box.Written();
    const auto& taken = box.Taken();
    const std::uint32_t expected = session.outputLength > 6 ? session.outputLength - 6 : 0;
    // The tool read back exactly the image, byte for byte.
    const bool readImage =
        taken.size() - takenBefore == expected && std::equal(taken.begin() + static_cast<std::ptrdiff_t>(takenBefore),
                                                             taken.end(), session.OutputBuffer.begin() + 6);
    switch (verified) {
        case 0:
            // A changed byte never passes, nor does a read-back of the wrong length.
            KESTREL_FUZZ_CHECK(lastLine == "Verify data..." && readImage);
            KESTREL_FUZZ_CHECK(written.size() == writtenBefore + 1 && written.back() == 0x53);
            break;
        case -1:
            KESTREL_FUZZ_CHECK(lastLine == "Error: data verify");
            KESTREL_FUZZ_CHECK(box.WriteFaultInjected() ||
                               (written.size() == writtenBefore + 1 && written.back() == 0x45));
            break;
        case DataConverter::kVerifyBoxNotAnswering:
            KESTREL_FUZZ_CHECK(lastLine == "Error: box not answering");
            break;
        case DataConverter::kVerifyCancelled:
            KESTREL_FUZZ_CHECK(lastLine == "Error: download cancelled" && cancelled);
            break;
        default:
            KESTREL_FUZZ_CHECK(!"VerifyData gave an unknown result");
    }
    // The whole image read back with the box still there: it must pass.
    if (readImage && !cancelled && !box.WriteFaultInjected() && !box.Unplugged()) {
        KESTREL_FUZZ_CHECK(verified == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return -1;
    }
    // Starts near the top of the tick count, too, so that it wraps during the exchange.
    const std::uint32_t start = data[0] >> 4;
    kestrel::ManualClock clock(start == 0 ? 0 : 0u - start * 1500u);
    ScriptedBox box(clock, data + 4, size - 4);

    static constexpr std::uint32_t kAnswerBoundsMs[4] = {30000, 1000, 100, 1};
    kestrel::SessionOptions options;
    options.usbDriver = &box;
    options.clock = &clock;
    options.answerTimeoutMs = kAnswerBoundsMs[(data[0] >> 1) & 0x03];
    std::uint32_t polls = 0;
    bool cancelled = false;
    if ((data[0] & 0x08) != 0) {
        options.cancelRequested = [&, cancelAfterPolls = data[1] * 16u] {
            cancelled = cancelled || ++polls > cancelAfterPolls;
            return cancelled;
        };
    }

    kestrel::RecordingStatusList status;
    auto session = std::make_unique<DataConverter>(status, options);
    kestrel::UsbLink::ForgetDeviceListing();
    KESTREL_FUZZ_CHECK(session->OpenInterface("USB", 115200) == 0);
    BuildImage(*session, data);
    box.SetReadBack(session->OutputBuffer.data() + 6, session->outputLength > 6 ? session->outputLength - 6 : 0);
    status.Clear();

    const int flashed = session->FlashData();
    const auto flashLines = status.lines();
    KESTREL_FUZZ_CHECK(kFlashLines.count(flashed) == 1);
    KESTREL_FUZZ_CHECK(!flashLines.empty() && flashLines.front() == "Waiting for synchronising ... ");
    KESTREL_FUZZ_CHECK(flashLines.back() == kFlashLines.at(flashed));
    KESTREL_FUZZ_CHECK(flashed != DataConverter::kFlashCancelled || cancelled);
    CheckFlashWrites(box, *session, flashed);

    if (flashed == 0) {
        const std::size_t writtenBefore = box.Written().size();
        const std::size_t takenBefore = box.Taken().size();
        const int verified = session->VerifyData();
        CheckVerify(box, *session, verified, status.lines().back(), cancelled, writtenBefore, takenBefore);
    }
    // No wait outlasts its bound: the synchronisation's, or the answer bound after it,
    // give or take one receive attempt.
    KESTREL_FUZZ_CHECK(box.LongestSilenceMs() <=
                       std::max(DataConverter::kSyncTimeoutMs, options.answerTimeoutMs) + 250);
    return 0;
}
