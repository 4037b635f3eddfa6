#include "session/DataConverter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

#include "builders/OutputDataBin.h"
#include "builders/OutputDataSelfProg.h"
#include "readers/ExtractDataBin.h"
#include "readers/ExtractDataMOT.h"
#include "session/LinkNames.h"
#include "session/SourceFile.h"

namespace kestrel {

namespace {

// A ".bin" file brings the 30-byte header that the box takes before the data.
constexpr std::uint32_t kBinHeaderLength = 30;
// The read-back leaves out the six-byte head of the image.
constexpr std::uint32_t kReadBackSkip = 6;
constexpr int kUsbDeviceAttempts = 10;
// How long one receive attempt blocks in the device when nothing arrives.
constexpr std::uint32_t kAttemptWaitMs = 15;
// The data block and the read-back move in pieces of this size, so that progress
// and a cancel request are seen while a long block is on the line.
constexpr std::uint32_t kBlockPiece = 4096;
constexpr std::uint32_t kReadBackPiece = 1024;
constexpr std::uint32_t kReadBackWaitMs = 100;

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

DataConverter::DataConverter(StatusList& status, SessionOptions options)
    : statusList(status),
      options_(std::move(options)),
      clock_(options_.clock != nullptr ? *options_.clock : SteadyClock()) {
    std::fill_n(OutputBuffer.begin(), kBinHeaderLength, 0);
}

DataConverter::~DataConverter() {
    if (serialLink) {
        serialLink->Close();
    }
    if (usbLink) {
        usbLink->Close();
    }
}

int DataConverter::LoadSourceFile(const std::string& path) {
    switch (ReadSourceFile(path, SourceBuffer.data(), kSourceBufferSize, sourceLength, sourceOpenError)) {
        case SourceFileRead::Read:
            break;
        case SourceFileRead::CannotOpen:
            statusList.AppendStatus("Error: cannot open sourcefile");
            ReportOpenFailed({.target = OpenFailure::Target::SourceFile, .name = path, .error = sourceOpenError});
            return kSourceCannotOpen;
        case SourceFileRead::TooLarge:
            sourceSizeLimit = kSourceBufferSize;
            statusList.AppendStatus("Error: sourcefile too large");
            return kSourceSizeRefused;
    }

    const std::uint8_t kind = SourceKindOf(path);
    if (kind == kSourceMot) {
        sourceKind = kSourceMot;
        reader = std::make_unique<ExtractDataMOT>();
        builder = std::make_unique<OutputDataSelfProg>();
        return 0;
    }
    if (kind != kSourceBin) {
        statusList.AppendStatus("Error: unknown sourcefile");
        return kSourceUnknownKind;
    }
    // A binary image is read back whole into the upper half of the output
    // buffer, and the box takes its first 30 bytes as the header.
    if (sourceLength > kVerifyBufferOffset) {
        sourceSizeLimit = kVerifyBufferOffset;
        statusList.AppendStatus("Error: sourcefile too large");
        return kSourceSizeRefused;
    }
    if (sourceLength < kBinHeaderLength) {
        statusList.AppendStatus("Error: sourcefile too short");
        return kSourceSizeRefused;
    }
    sourceKind = kSourceBin;
    reader = std::make_unique<ExtractDataBin>();
    builder = std::make_unique<OutputDataBin>();

    // Binary images go at their own line rate: the link opened before is opened again.
    // Without a link (an image built for a file only) there is nothing to reopen.
    if (!serialLink && !usbLink) {
        return 0;
    }
    if (serialLink) {
        serialLink->Close();
    }
    if (usbLink) {
        usbLink->Close();
    }
    const std::string name = interfaceName;
    // The handshake must not run on a link that failed to reopen: its line is appended.
    return OpenInterface(name, BaudRateForSource(kSourceBin)) == 0 ? 0 : kSourceReopenFailed;
}

int DataConverter::AnalyseSourceFile() {
    if (!reader) {
        return 0;
    }
    ExtractFailure failure;
    const int result = reader->extract(SourceBuffer.data(), records, sourceLength, &failure);
    if (result < 0) {
        const char* what = failure.kind == ExtractFailure::Kind::UnsupportedRecordType
                               ? "Error: unsupported record type in line "
                               : "Error: malformed record in line ";
        statusList.AppendStatus(what + std::to_string(failure.line));
        if (options_.sourceRefused) {
            options_.sourceRefused(failure);
        }
    }
    return result;
}

int DataConverter::BuildOutputData() {
    if (!builder) {
        statusList.AppendStatus("Error: unknown sourcefile");
        return kSourceUnknownKind;
    }
    // An image of nothing but 0xFF would erase the box and call it a success.
    const auto carriesData = [this] {
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (records.at(i).length > 0) {
                return true;
            }
        }
        return false;
    };
    if (sourceKind == kSourceMot && !carriesData()) {
        statusList.AppendStatus("Error: no data in sourcefile");
        return kBuildNoData;
    }
    const int result = builder->BuildOutput(records, OutputBuffer.data(), outputLength, kOutputBufferSize);
    switch (result) {
        case 0:
            break;
        case OutputData::kAddressOutsideWindow:
            statusList.AppendStatus("Error: address outside 0xE0000..0xFFFFF");
            break;
        case OutputData::kImageTooLarge:
            statusList.AppendStatus("Error: sourcefile too large");
            break;
        default:
            statusList.AppendStatus("Error: startaddress is not 0xE0000");
            break;
    }
    return result;
}

int DataConverter::OpenInterface(const std::string& name, std::uint32_t baudRate) {
    interfaceName = name;
    const LinkChoice choice = ChooseLink(name);

    if (choice.kind == LinkChoice::Kind::Serial) {
        if (serialLink) {
            serialLink->Close();
        } else {
            serialLink = std::make_unique<SerialLink>();
        }
        LinkKind = kLinkCom;
        if (choice.refusal != 0) {
            statusList.AppendStatus("Error: unknown interface");
            return choice.refusal;
        }
        const bool opened = choice.device.empty()
                                ? serialLink->Open(choice.port, baudRate, kParityNone, kTwoStopBits, kByteSize)
                                : serialLink->Open(choice.device, baudRate, kParityNone, kTwoStopBits, kByteSize);
        if (opened) {
            return 0;
        }
        ReportOpenFailed({.target = OpenFailure::Target::SerialPort,
                          .name = choice.device.empty() ? SerialLink::DeviceForPort(choice.port) : choice.device,
                          .error = serialLink->OpenError()});
        statusList.AppendStatus("Error: cannot open comport");
        return kInterfaceOpenFailed;
    }
    if (choice.kind == LinkChoice::Kind::None) {
        statusList.AppendStatus("Error: unknown interface");
        return choice.refusal;
    }

    if (usbLink) {
        usbLink->Close();
    } else {
        usbLink = std::make_unique<UsbLink>(options_.usbDriver != nullptr ? *options_.usbDriver : SystemUsbDriver());
    }
    LinkKind = kLinkUsb;
    UsbOpenProblem problem = UsbOpenProblem::None;
    if (!choice.usbSelector.empty()) {
        // One named box only: a line with several boxes must never write into the wrong one.
        if (const int index = OpenSelectedUsbDevice(choice.usbSelector, baudRate, problem); index >= 0) {
            ReportUsbDeviceOpened(index);
            return 0;
        }
    } else {
        for (int index = 0; index < kUsbDeviceAttempts; ++index) {
            if (usbLink->Open(index, baudRate, kParityNone, kTwoStopBits, kByteSize)) {
                ReportUsbDeviceOpened(index);
                return 0;
            }
            // The indices past the attached devices must not hide why an
            // attached one would not open (permission, in use).
            const UsbOpenProblem why = usbLink->OpenProblem();
            const bool telling = problem != UsbOpenProblem::None && problem != UsbOpenProblem::NoDevice;
            problem = why == UsbOpenProblem::NoDevice && telling ? problem : why;
        }
    }
    ReportOpenFailed({.target = OpenFailure::Target::Usb, .name = name, .usbProblem = problem});
    statusList.AppendStatus("Error: cannot open Ixo Serial Device");
    return kInterfaceOpenFailed;
}

void DataConverter::ReportOpenFailed(const OpenFailure& failure) {
    if (options_.openFailed) {
        options_.openFailed(failure);
    }
}

void DataConverter::ReportUsbDeviceOpened(int index) {
    if (options_.usbDeviceOpened) {
        options_.usbDeviceOpened(index);
    }
}

int DataConverter::OpenSelectedUsbDevice(const std::string& selector, std::uint32_t baudRate, UsbOpenProblem& problem) {
    UsbDriver& driver = options_.usbDriver != nullptr ? *options_.usbDriver : SystemUsbDriver();
    std::vector<UsbDeviceInfo> devices;
    const UsbStatus listed = driver.ListDevices(devices);
    if (listed != 0) {
        devices.clear();  // a bare index still names its device
    }
    const int index = FindUsbDevice(selector, devices);
    if (index >= 0) {
        const bool opened = usbLink->Open(index, baudRate, kParityNone, kTwoStopBits, kByteSize);
        problem = usbLink->OpenProblem();
        return opened ? index : -1;
    }
    // Not found: a box whose strings could not be read may be the one, and why
    // they could not be read is the reason; other boxes there need no hint.
    problem = listed != 0       ? ProblemOfListing(listed)
              : devices.empty() ? UsbOpenProblem::NoDevice
                                : UsbOpenProblem::None;
    for (const UsbDeviceInfo& device : devices) {
        if (device.openProblem == UsbOpenProblem::AccessDenied || device.openProblem == UsbOpenProblem::Busy) {
            problem = device.openProblem;
        }
    }
    return -1;
}

bool DataConverter::SendBlock(const std::uint8_t* data, std::uint32_t count) {
    if (count == 0) {
        return true;
    }
    bool sent = false;
    if (LinkKind == kLinkCom) {
        sent = serialLink && serialLink->Write(data, count);
    } else {
        sent = usbLink && usbLink->Write(data, count);
    }
    if (sent) {
        NoteActivity();
    }
    return sent;
}

bool DataConverter::SendByte(std::uint8_t value) { return SendBlock(&value, 1); }

std::int32_t DataConverter::ReadAttempt(std::uint8_t* buffer, std::uint32_t count, std::uint32_t waitMs) {
    if (LinkKind == kLinkCom) {
        // The serial link's own bounds (5 ms a byte and 10 ms more, or 500 ms
        // idle), cut to the attempt's wait as over USB.
        return serialLink ? serialLink->Read(buffer, count, waitMs) : 0;
    }
    return usbLink ? usbLink->WaitRead(buffer, count, waitMs) : 0;
}

int DataConverter::ReceiveByte() {
    for (;;) {
        if (CancelRequested()) {
            return kCancelled;
        }
        // A closed or failed link delivers nothing at once: waiting on it would spin.
        if (LinkBroken()) {
            return kLinkLost;
        }
        if (AnswerBoundPassed()) {
            return kNoAnswer;
        }
        std::uint8_t value = 0;
        if (ReadAttempt(&value, 1, kAttemptWaitMs) == 1) {
            NoteActivity();
            return value;
        }
    }
}

std::uint8_t DataConverter::ReceiveByteNoWait() {
    std::uint8_t value = 0;
    return ReadAttempt(&value, 1, kAttemptWaitMs) == 1 ? value : 0;
}

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
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
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

bool DataConverter::LinkBroken() const {
    if (LinkKind == kLinkCom) {
        return !serialLink || !serialLink->IsOpen() || serialLink->IsBroken();
    }
    return !usbLink || !usbLink->IsOpen() || usbLink->IsBroken();
}

bool DataConverter::CancelRequested() const { return options_.cancelRequested && options_.cancelRequested(); }

void DataConverter::NoteActivity() { lastActivityMs_ = clock_.TickMs(); }

bool DataConverter::AnswerBoundPassed() {
    return static_cast<std::uint32_t>(clock_.TickMs() - lastActivityMs_) > options_.answerTimeoutMs;
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
