#include "emulator/BoxModel.h"

#include <algorithm>
#include <deque>

namespace kestrel::emulator {

namespace {

constexpr std::uint8_t kSync = 0x2A;  // '*': from the tool a sync request, from the box "send again"
constexpr std::uint8_t kGoOn = 'R';
constexpr std::uint8_t kFailed = 'E';
constexpr std::uint8_t kNoReadBack = 'N';
constexpr std::uint8_t kUnexpected = 0x00;
constexpr std::uint8_t kMatched = 'S';

constexpr std::size_t kLengthBlockSize = 8;  // four bytes, each followed by its complement
constexpr std::size_t kHeaderSize = 30;
constexpr std::size_t kImageHeadSize = 6;  // type 1: the data block repeats the head before the data
// The flash window of a type 1 box; a longer announced length is refused.
constexpr std::uint32_t kFlashSize = 0x20000;

// The millisecond count wraps; `at` has come when it is not ahead of `now`.
bool Reached(std::uint32_t now, std::uint32_t at) { return static_cast<std::int32_t>(now - at) >= 0; }

enum class Phase { Idle, Typing, Length, Header, Erasing, Data, Verdict, Silent, HungUp };

}  // namespace

struct BoxModel::Impl {
    BoxBehaviour behaviour;
    Phase phase = Phase::Idle;
    std::deque<std::uint8_t> output;
    std::vector<std::uint8_t> block;  // the length block or the header as it arrives
    std::vector<std::uint8_t> image;  // the data block as it arrives, after the header for type 2
    int retriesLeft = 0;
    int unexpectedLeft = 0;
    std::uint32_t dataLength = 0;  // type 1: bytes the data block has
    std::uint32_t eraseDoneAt = 0;
    std::uint32_t lastDataAt = 0;  // type 2: the idle time runs from here

    bool inExchange = false;  // a sync request was answered and the exchange has not ended
    int ended = 0;
    int completed = 0;
    std::vector<std::uint8_t> lastImage;
    std::uint8_t lastVerdict = 0;

    bool TypeTwo() const { return behaviour.firmwareType == 2; }
    bool Is(const std::optional<BoxStage>& setting, BoxStage stage) const { return setting == stage; }

    void End(Phase next) {
        phase = next;
        if (inExchange) {
            inExchange = false;
            ++ended;
        }
    }

    void Send(std::uint8_t value) { output.push_back(value); }
    void Send(const std::vector<std::uint8_t>& bytes) { output.insert(output.end(), bytes.begin(), bytes.end()); }

    // Scenario stops at `stage`; true when the exchange ends here.
    bool StopsAt(BoxStage stage) {
        if (Is(behaviour.hangUpAt, stage)) {
            End(Phase::HungUp);
            return true;
        }
        if (Is(behaviour.silentAt, stage)) {
            End(Phase::Silent);
            return true;
        }
        return false;
    }

    void StartSync() {
        End(phase);  // a sync request in the middle of an exchange ends that one
        inExchange = true;
        block.clear();
        image.clear();
        if (StopsAt(BoxStage::Sync)) {
            return;
        }
        Send(behaviour.strayBeforeType);
        Send(behaviour.firmwareType);
        phase = Phase::Typing;
    }

    void TypeAnswer(std::uint8_t value) {
        if (value == static_cast<std::uint8_t>(behaviour.firmwareType ^ 0xFF)) {
            retriesLeft = behaviour.retriesAfterLength;
            unexpectedLeft = behaviour.unexpectedAfterLength;
            block.clear();
            phase = TypeTwo() ? Phase::Header : Phase::Length;
        } else if (value == kSync) {
            StartSync();  // the tool started over
        } else {
            End(Phase::Idle);  // 0xFF, the type refused, or anything the box cannot take as an answer
        }
    }

    // The length block or the header is complete; true when it is accepted.
    bool AnswerBlock() {
        const auto stage = BoxStage::Length;  // the header stands at the same place for type 2
        if (StopsAt(stage)) {
            return false;
        }
        if (retriesLeft > 0) {
            --retriesLeft;
            Send(kSync);
            block.clear();
            return false;
        }
        if (unexpectedLeft > 0) {
            --unexpectedLeft;
            Send(kUnexpected);
            block.clear();
            return false;
        }
        if (Is(behaviour.refuseAt, stage)) {
            Send(kFailed);
            End(Phase::Idle);
            return false;
        }
        return true;
    }

    void LengthComplete(std::uint32_t now) {
        if (!AnswerBlock()) {
            return;
        }
        bool intact = true;
        std::uint32_t length = 0;
        for (std::size_t i = 0; i < kLengthBlockSize; i += 2) {
            intact = intact && block[i + 1] == static_cast<std::uint8_t>(0xFF - block[i]);
            length = (length << 8) | block[i];
        }
        if (!intact) {  // a garbled length is asked for again
            Send(kSync);
            block.clear();
            return;
        }
        if (length > kFlashSize) {
            Send(kFailed);
            End(Phase::Idle);
            return;
        }
        dataLength = length + static_cast<std::uint32_t>(kImageHeadSize);
        Send(kGoOn);
        StartErase(now);
    }

    void HeaderComplete(std::uint32_t now) {
        if (!AnswerBlock()) {
            return;
        }
        Send(kGoOn);
        StartErase(now);
    }

    void StartErase(std::uint32_t now) {
        if (StopsAt(BoxStage::Erase)) {
            return;
        }
        Send(behaviour.strayDuringErase);
        eraseDoneAt = now + behaviour.eraseMs;
        phase = Phase::Erasing;
    }

    void FinishErase(std::uint32_t now) {
        if (Is(behaviour.refuseAt, BoxStage::Erase)) {
            Send(kFailed);
            End(Phase::Idle);
            return;
        }
        Send(kGoOn);
        image = TypeTwo() ? block : std::vector<std::uint8_t>{};
        lastDataAt = now;
        phase = Phase::Data;
    }

    void DataByte(std::uint8_t value, std::uint32_t now) {
        image.push_back(value);
        lastDataAt = now;
        if (Is(behaviour.hangUpAt, BoxStage::Data)) {
            // Type 2 announces no length: it goes at the first data byte.
            const std::size_t halfWay = TypeTwo() ? kHeaderSize + 1 : dataLength / 2;
            if (image.size() >= halfWay) {
                End(Phase::HungUp);
                return;
            }
        }
        if (!TypeTwo() && image.size() == dataLength) {
            DataComplete();
        }
    }

    void DataComplete() {
        ++completed;
        lastImage = image;
        if (StopsAt(BoxStage::Data)) {
            return;
        }
        if (Is(behaviour.refuseAt, BoxStage::Data)) {
            Send(kFailed);
            End(Phase::Idle);
            return;
        }
        if (!behaviour.readBack.value_or(!TypeTwo())) {
            Send(kNoReadBack);
            End(Phase::Idle);
            return;
        }
        Send(kGoOn);
        lastVerdict = 0;
        SendReadBack();
    }

    void SendReadBack() {
        if (Is(behaviour.silentAt, BoxStage::ReadBack)) {
            End(Phase::Silent);
            return;
        }
        std::vector<std::uint8_t> readBack(lastImage.begin() + std::min(kImageHeadSize, lastImage.size()),
                                           lastImage.end());
        readBack.resize(readBack.size() - std::min<std::size_t>(behaviour.shortReadBack, readBack.size()));
        if (behaviour.corruptReadBack && !readBack.empty()) {
            readBack[readBack.size() / 2] ^= 0x5A;
        }
        if (Is(behaviour.hangUpAt, BoxStage::ReadBack)) {
            readBack.resize(readBack.size() / 2);
            Send(readBack);
            End(Phase::HungUp);
            return;
        }
        Send(readBack);
        phase = Phase::Verdict;
    }

    void Byte(std::uint8_t value, std::uint32_t now) {
        switch (phase) {
            case Phase::Idle:
                if (value == kSync) {
                    StartSync();
                }
                break;
            case Phase::Typing:
                TypeAnswer(value);
                break;
            case Phase::Length:
                block.push_back(value);
                if (block.size() == kLengthBlockSize) {
                    LengthComplete(now);
                }
                break;
            case Phase::Header:
                block.push_back(value);
                if (block.size() == kHeaderSize) {
                    HeaderComplete(now);
                }
                break;
            case Phase::Data:
                DataByte(value, now);
                break;
            case Phase::Verdict:
                if (value == kMatched || value == kFailed) {
                    lastVerdict = value;
                    End(Phase::Idle);
                } else if (value == kSync) {
                    StartSync();  // the tool gave up on the read-back and started over
                }
                break;
            case Phase::Erasing:  // busy: what arrives now is lost
            case Phase::Silent:
            case Phase::HungUp:
                break;
        }
    }

    void Advance(std::uint32_t now) {
        // One step may open the next (an erase of 0 ms, an idle time of 0 ms).
        for (;;) {
            if (phase == Phase::Erasing && Reached(now, eraseDoneAt)) {
                FinishErase(now);
            } else if (phase == Phase::Data && TypeTwo() && Reached(now, lastDataAt + behaviour.dataIdleMs)) {
                DataComplete();
            } else {
                return;
            }
        }
    }
};

BoxModel::BoxModel(BoxBehaviour behaviour) : impl_(std::make_shared<Impl>()) {
    impl_->behaviour = std::move(behaviour);
}

void BoxModel::Receive(const std::uint8_t* data, std::size_t count, std::uint32_t nowMs) {
    impl_->Advance(nowMs);
    for (std::size_t i = 0; i < count; ++i) {
        impl_->Byte(data[i], nowMs);
        impl_->Advance(nowMs);  // an erase of 0 ms ends with the byte that started it
    }
}

void BoxModel::Advance(std::uint32_t nowMs) { impl_->Advance(nowMs); }

std::optional<std::uint32_t> BoxModel::NextDeadline() const {
    if (impl_->phase == Phase::Erasing) {
        return impl_->eraseDoneAt;
    }
    if (impl_->phase == Phase::Data && impl_->TypeTwo()) {
        return impl_->lastDataAt + impl_->behaviour.dataIdleMs;
    }
    return std::nullopt;
}

std::size_t BoxModel::TakeOutput(std::uint8_t* buffer, std::size_t max) {
    auto& output = impl_->output;
    const std::size_t count = std::min(max, output.size());
    std::copy_n(output.begin(), count, buffer);
    output.erase(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(count));
    return count;
}

bool BoxModel::HasOutput() const { return !impl_->output.empty(); }

bool BoxModel::WantsHangUp() const { return impl_->phase == Phase::HungUp; }

int BoxModel::EndedExchanges() const { return impl_->ended; }

void BoxModel::Restart() {
    impl_->End(Phase::Idle);
    impl_->output.clear();
    impl_->block.clear();
    impl_->image.clear();
}

int BoxModel::CompletedDownloads() const { return impl_->completed; }

const std::vector<std::uint8_t>& BoxModel::LastImage() const { return impl_->lastImage; }

std::uint8_t BoxModel::LastVerdict() const { return impl_->lastVerdict; }

}  // namespace kestrel::emulator
