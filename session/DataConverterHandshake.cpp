#include "session/DataConverter.h"

#include <algorithm>

namespace kestrel {

namespace {

// The read-back leaves out the six-byte head of the image.
constexpr std::uint32_t kReadBackSkip = 6;
// The data block and the read-back move in pieces of this size, so that progress
// and a cancel request are seen while a long block is on the line.
constexpr std::uint32_t kBlockPiece = 4096;
constexpr std::uint32_t kReadBackPiece = 1024;
constexpr std::uint32_t kReadBackWaitMs = 100;
constexpr std::uint32_t kHeaderBytePauseMs = 1;

constexpr std::uint8_t kSyncRequest = 0x2A;
constexpr std::uint8_t kTypeRefused = 0xFF;
constexpr std::uint8_t kAnswerRetry = 0x2A;
constexpr std::uint8_t kAnswerAccepted = 0x52;
constexpr std::uint8_t kAnswerFailed = 0x45;
constexpr std::uint8_t kAnswerNoReadBack = 0x4E;
constexpr std::uint8_t kVerdictMatched = 0x53;
constexpr std::uint8_t kVerdictDiffered = 0x45;

const char* const kNotAnswering = "Error: box not answering";
const char* const kCancelledLine = "Error: download cancelled";

}  // namespace

int DataConverter::FlashData() {
    const std::uint32_t start = clock_.TickMs();
    statusList.AppendStatus("Waiting for synchronising ... ");
    statusList.StageStarted(SessionStage::Synchronising);
    if (usbLink) {
        usbLink->PrepareForSync();
    }
    if (!SendByte(kSyncRequest)) {
        return ReportWaitEnd(kLinkLost, kFlashBoxNotAnswering, kFlashCancelled);
    }

    std::uint8_t firmwareType = 0;
    for (;;) {
        if (CancelRequested()) {
            return ReportWaitEnd(kCancelled, kFlashBoxNotAnswering, kFlashCancelled);
        }
        if (LinkBroken()) {
            return ReportWaitEnd(kLinkLost, kFlashBoxNotAnswering, kFlashCancelled);
        }
        const std::uint8_t answer = ReceiveByteNoWait();
        // The bound is tested before the byte is looked at: a type that comes late is not taken.
        if (static_cast<std::uint32_t>(clock_.TickMs() - start) > kSyncTimeoutMs) {
            statusList.AppendStatus("Error: synchronize timeout");
            return kFlashSyncTimeout;
        }
        if (answer == kSourceMot || answer == kSourceBin) {
            firmwareType = answer;
            break;
        }
    }
    NoteActivity();

    if (firmwareType != sourceKind) {
        SendByte(kTypeRefused);
        statusList.AppendStatus("Error: Wrong firmware type");
        return kFlashWrongType;
    }
    if (!SendByte(static_cast<std::uint8_t>(firmwareType ^ 0xFF))) {
        return ReportWaitEnd(kLinkLost, kFlashBoxNotAnswering, kFlashCancelled);
    }

    const int taken = SendLengthOrHeader(firmwareType);
    if (taken != 0) {
        return taken;
    }

    statusList.AppendStatus("Erasing flash... ");
    for (;;) {
        const int answer = ReceiveByte();
        if (answer < 0) {
            return ReportWaitEnd(answer, kFlashBoxNotAnswering, kFlashCancelled);
        }
        if (answer == kAnswerFailed) {
            statusList.AppendStatus("Error: cannot erase flash");
            return kFlashEraseFailed;
        }
        if (answer == kAnswerAccepted) {
            break;
        }
    }

    statusList.AppendStatus("Writing data... ");
    const int sent = SendDataBlock(firmwareType == kSourceMot ? 0 : kBinHeaderLength);
    if (sent != 0) {
        return sent;
    }
    for (;;) {
        const int answer = ReceiveByte();
        if (answer < 0) {
            return ReportWaitEnd(answer, kFlashBoxNotAnswering, kFlashCancelled);
        }
        switch (answer) {
            case kAnswerFailed:
                statusList.AppendStatus("Error: Cannot program");
                return kFlashDataRefused;
            case kAnswerAccepted:
                return 0;
            case kAnswerNoReadBack:
                return 1;
            default:
                break;  // not an answer to the data: wait for the next byte
        }
    }
}

int DataConverter::SendLengthOrHeader(std::uint8_t firmwareType) {
    statusList.AppendStatus(firmwareType == kSourceMot ? "Writing datalength... " : "Writing header... ");
    for (;;) {
        const bool sent = firmwareType == kSourceMot ? SendLengthField() : SendHeader();
        if (!sent) {
            return ReportWaitEnd(kLinkLost, kFlashBoxNotAnswering, kFlashCancelled);
        }
        const int answer = ReceiveByte();
        if (answer < 0) {
            return ReportWaitEnd(answer, kFlashBoxNotAnswering, kFlashCancelled);
        }
        if (answer == kAnswerAccepted) {
            return 0;
        }
        if (answer == kAnswerFailed) {
            statusList.AppendStatus("Error: Cannot program");
            return kFlashHeadRefused;
        }
        if (answer == kAnswerRetry) {
            statusList.AppendStatus("retry");
        }
        // '*' and any unexpected byte: the same block again.
    }
}

bool DataConverter::SendLengthField() {
    // Each byte of the 32-bit length is followed by its complement, so the box
    // can tell a damaged length from a real one.
    for (std::uint32_t offset = 2; offset < 6; ++offset) {
        const std::uint8_t value = OutputBuffer[offset];
        if (!SendByte(value) || !SendByte(static_cast<std::uint8_t>(255 - value))) {
            return false;
        }
    }
    return true;
}

bool DataConverter::SendHeader() {
    // The box's loader takes the header one byte at a time and needs a moment
    // between them: each byte waits until the one before has left, then 1 ms.
    for (std::uint32_t offset = 0; offset < kBinHeaderLength; ++offset) {
        if (LinkKind == kLinkCom && serialLink) {
            serialLink->WaitUntilSent();
        }
        clock_.SleepFor(kHeaderBytePauseMs);
        if (!SendByte(OutputBuffer[offset])) {
            return false;
        }
    }
    return true;
}

int DataConverter::SendDataBlock(std::uint32_t offset) {
    const std::uint32_t total = outputLength > offset ? outputLength - offset : 0;
    statusList.Progress(ProgressStage::WritingData, 0, total);
    for (std::uint32_t done = 0; done < total;) {
        if (CancelRequested()) {
            return ReportWaitEnd(kCancelled, kFlashBoxNotAnswering, kFlashCancelled);
        }
        const std::uint32_t piece = std::min(kBlockPiece, total - done);
        if (!SendBlock(OutputBuffer.data() + offset + done, piece)) {
            return ReportWaitEnd(kLinkLost, kFlashBoxNotAnswering, kFlashCancelled);
        }
        done += piece;
        statusList.Progress(ProgressStage::WritingData, done, total);
    }
    return 0;
}

int DataConverter::VerifyData() {
    // An image shorter than its head has nothing to read back; one longer than
    // the verify buffer cannot be read back whole, and what is missing counts as a difference.
    const std::uint32_t expected = outputLength > kReadBackSkip ? outputLength - kReadBackSkip : 0;
    const std::uint32_t capacity = kOutputBufferSize - kVerifyBufferOffset;
    const std::uint32_t wanted = std::min(expected, capacity);
    std::uint8_t* readBack = VerifyBuffer();

    std::uint32_t received = 0;
    int waitEnd = 0;
    statusList.Progress(ProgressStage::ReadingBack, 0, expected);
    while (received < wanted) {
        if (CancelRequested()) {
            waitEnd = kCancelled;
        } else if (LinkBroken()) {
            waitEnd = kLinkLost;
        } else if (AnswerBoundPassed()) {
            waitEnd = kNoAnswer;
        }
        if (waitEnd != 0) {
            break;
        }
        const std::uint32_t piece = std::min(kReadBackPiece, wanted - received);
        const std::int32_t count = ReadAttempt(readBack + received, piece, kReadBackWaitMs);
        if (count > 0) {
            received += static_cast<std::uint32_t>(count);
            NoteActivity();
            statusList.Progress(ProgressStage::ReadingBack, received, expected);
        }
    }
    // A box that went away or never sent a byte gets no verdict; one that sent
    // part of the image is told that it differed.
    if (waitEnd == kCancelled || waitEnd == kLinkLost || (waitEnd == kNoAnswer && received == 0)) {
        return ReportWaitEnd(waitEnd, kVerifyBoxNotAnswering, kVerifyCancelled);
    }

    statusList.AppendStatus("Verify data...");
    const bool complete = received == expected;
    if (!complete || !std::equal(readBack, readBack + received, OutputBuffer.data() + kReadBackSkip)) {
        SendByte(kVerdictDiffered);
        statusList.AppendStatus("Error: data verify");
        return kVerifyDiffered;
    }
    if (!SendByte(kVerdictMatched)) {
        return ReportWaitEnd(kLinkLost, kVerifyBoxNotAnswering, kVerifyCancelled);
    }
    return 0;
}

int DataConverter::ReportWaitEnd(int waitResult, int notAnswering, int cancelled) {
    if (waitResult == kCancelled) {
        statusList.AppendStatus(kCancelledLine);
        return cancelled;
    }
    statusList.AppendStatus(kNotAnswering);
    return notAnswering;
}

}  // namespace kestrel
