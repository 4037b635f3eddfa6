#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "base/Clock.h"
#include "builders/OutputData.h"
#include "links/SerialLink.h"
#include "links/UsbLink.h"
#include "readers/ExtractData.h"
#include "readers/RecordList.h"
#include "session/Limits.h"
#include "session/SessionOptions.h"
#include "session/SourceFile.h"
#include "session/SourceKind.h"
#include "session/StatusList.h"

namespace kestrel {

// The flashing session: everything one download needs, from the raw file bytes
// to the link. Lives for one download; ending it closes its links.
class DataConverter {
public:
    static constexpr std::uint32_t kSourceBufferSize = kSourceSizeLimit;
    static constexpr std::uint32_t kOutputBufferSize = 458752;
    static constexpr std::uint32_t kVerifyBufferOffset = kOutputBufferSize / 2;  // 229376
    // A ".bin" file brings the 30-byte header that the box takes before the data.
    static constexpr std::uint32_t kBinHeaderLength = 30;
    static constexpr std::uint32_t kSyncTimeoutMs = kestrel::kSyncTimeoutMs;

    static constexpr std::uint8_t kLinkUsb = 1;
    static constexpr std::uint8_t kLinkCom = 2;
    static constexpr std::uint8_t kSourceMot = kSourceKindMot;
    static constexpr std::uint8_t kSourceBin = kSourceKindBin;

    // The line's framing, the same on every link: no parity, two stop bits, eight data bits.
    static constexpr std::uint8_t kParityNone = 0;
    static constexpr std::uint8_t kTwoStopBits = 2;
    static constexpr std::uint8_t kByteSize = 8;

    // OpenInterface's result when the chosen link does not open.
    static constexpr int kInterfaceOpenFailed = -1;
    // Results of LoadSourceFile.
    static constexpr int kSourceCannotOpen = -1;
    static constexpr int kSourceSizeRefused = -2;
    static constexpr int kSourceUnknownKind = -3;
    static constexpr int kSourceReopenFailed = -4;  // the link, opened again for a binary image
    // Results of BuildOutputData beyond the builder's own.
    static constexpr int kBuildNoData = -4;  // an S-record source without a data byte
    // Results of FlashData.
    static constexpr int kFlashEraseFailed = -1;
    static constexpr int kFlashHeadRefused = -3;  // the length field or the header
    static constexpr int kFlashDataRefused = -4;
    static constexpr int kFlashSyncTimeout = -5;
    static constexpr int kFlashBoxNotAnswering = -6;
    static constexpr int kFlashWrongType = -7;
    static constexpr int kFlashCancelled = -8;
    // Results of VerifyData.
    static constexpr int kVerifyDiffered = -1;
    static constexpr int kVerifyBoxNotAnswering = -2;
    static constexpr int kVerifyCancelled = -3;
    // What ReceiveByte returns instead of a byte when its wait ends without one.
    static constexpr int kNoAnswer = -1;
    static constexpr int kLinkLost = -2;
    static constexpr int kCancelled = -3;

    explicit DataConverter(StatusList& statusList, SessionOptions options = {});
    virtual ~DataConverter();
    DataConverter(const DataConverter&) = delete;
    DataConverter& operator=(const DataConverter&) = delete;

    // Preparation: file into SourceBuffer, records, image into OutputBuffer.
    int LoadSourceFile(const std::string& path);
    int AnalyseSourceFile();
    int BuildOutputData();

    // Link selection and byte I/O over the link that LinkKind names.
    int OpenInterface(const std::string& name, std::uint32_t baudRate);
    bool SendBlock(const std::uint8_t* data, std::uint32_t count);
    bool SendByte(std::uint8_t value);
    // The next byte from the box (0..255), or kNoAnswer, kLinkLost or kCancelled
    // when the bound since the last byte passed, the link went away or the user cancelled.
    int ReceiveByte();
    // One short attempt; 0 when nothing arrived.
    std::uint8_t ReceiveByteNoWait();

    // The handshake with the box, and the read-back.
    int FlashData();
    int VerifyData();

    // The fields, in the order the session has always laid them out.
    std::unique_ptr<ExtractData> reader;
    std::unique_ptr<OutputData> builder;
    std::unique_ptr<UsbLink> usbLink;
    std::unique_ptr<SerialLink> serialLink;
    StatusList& statusList;
    std::uint32_t sourceLength = 0;
    std::uint32_t outputLength = 0;
    std::uint8_t LinkKind = 0;
    // Not zeroed as a whole: a download writes only the pages it uses, and
    // every byte is read only after it was written (the file's bytes up to
    // sourceLength, the image up to outputLength, what the box read back). The
    // head of the image is zeroed, as the exchange reads it from a short image too.
    std::array<std::uint8_t, kSourceBufferSize> SourceBuffer;
    std::array<std::uint8_t, kOutputBufferSize> OutputBuffer;
    std::string interfaceName;
    RecordList records;
    std::uint8_t sourceKind = 0;
    // The system's reason (errno) when LoadSourceFile could not open the file; 0 otherwise.
    int sourceOpenError = 0;
    // The most bytes the file may have, when LoadSourceFile refused it as too large; 0 otherwise.
    std::uint32_t sourceSizeLimit = 0;

    std::uint8_t* VerifyBuffer() { return OutputBuffer.data() + kVerifyBufferOffset; }

private:
    // The file into SourceBuffer: the bytes read before for the session, or the file read now.
    SourceFileRead ReadSource(const std::string& path);
    // Opens the one USB device that a "USB:" selector names; its index, or -1 and the USB facts of `failure`.
    int OpenSelectedUsbDevice(const std::string& selector, std::uint32_t baudRate, OpenFailure& failure);
    void ReportUsbDeviceOpened(int index);
    void ReportOpenFailed(const OpenFailure& failure);
    // The link that LinkKind names is absent, closed, or has failed since its open.
    bool LinkBroken() const;
    bool CancelRequested() const;
    // Restarts the answer bound: a byte went out or came in.
    void NoteActivity();
    bool AnswerBoundPassed();
    // One read on the current link, blocking in the device at most about `waitMs`.
    std::int32_t ReadAttempt(std::uint8_t* buffer, std::uint32_t count, std::uint32_t waitMs);
    // Sends the length field (type 1) or the header (type 2) until the box takes it.
    int SendLengthOrHeader(std::uint8_t firmwareType);
    bool SendHeader();
    bool SendLengthField();
    int SendDataBlock(std::uint32_t offset);
    // Appends the line for a wait that ended without a byte and returns the stage's result.
    int ReportWaitEnd(int waitResult, int notAnswering, int cancelled);

    SessionOptions options_;
    Clock& clock_;
    std::uint32_t lastActivityMs_ = 0;
};

}  // namespace kestrel
