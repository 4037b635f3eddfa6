#include "station/RecordedDownload.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "base/FileOpen.h"
#include "links/UsbDriver.h"
#include "session/ExitStatus.h"
#include "session/Version.h"
#include "station/JsonLines.h"
#include "station/PortListing.h"
#include "station/Sha256.h"

namespace kestrel {

namespace {

// The record must name the file wherever the log is read later.
std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(PathFromUtf8(path), error);
    return error || path.empty() ? path : Utf8FromPath(absolute.lexically_normal());
}

}  // namespace

SessionRecordBuilder::SessionRecordBuilder(const std::string& linkName, const std::string& filePath, StatusList* status)
    : recorder_(status) {
    record_.started = std::chrono::system_clock::now();
    record_.toolVersion = kToolVersion;
    record_.port = linkName;
    record_.fileName = AbsolutePath(filePath);
}

SessionOptions SessionRecordBuilder::Hooked(SessionOptions options) {
    options.imageReady = [this, passOn = std::move(options.imageReady)](const std::uint8_t* image, std::uint32_t length,
                                                                        std::uint8_t kind) {
        NoteImage(length, kind, Sha256Hex(image, length));
        if (passOn) {
            passOn(image, length, kind);
        }
    };
    options.usbDeviceOpened = [this, passOn = std::move(options.usbDeviceOpened)](int index) {
        openedUsbIndex_ = index;
        if (passOn) {
            passOn(index);
        }
    };
    return options;
}

void SessionRecordBuilder::NoteImage(std::uint32_t size, std::uint8_t sourceKind, const std::string& sha256) {
    record_.baudRate = BaudRateForSource(sourceKind);
    record_.imageSize = size;
    record_.imageSha256 = sha256;
}

void SessionRecordBuilder::NoteEarlierLines(const std::vector<TimedLine>& lines) {
    earlierLines_.insert(earlierLines_.end(), lines.begin(), lines.end());
}

SessionRecord SessionRecordBuilder::StartRecord() const {
    SessionRecord record = record_;
    record.isStart = true;
    return record;
}

SessionRecord SessionRecordBuilder::Finish(DownloadOutcome outcome, double seconds, UsbDriver& usb) {
    SessionRecord record = record_;
    record.lines = earlierLines_;
    record.lines.insert(record.lines.end(), recorder_.Lines().begin(), recorder_.Lines().end());
    record.outcome = OutcomeName(outcome);
    record.exitStatus = ExitStatusOf(outcome);
    record.seconds = seconds;
    record.portIdentity = IdentityOfLink(record.port, openedUsbIndex_, usb);
    return record;
}

DownloadOutcome RunRecordedDownload(const DownloadRunner& run, const std::string& linkName, const std::string& filePath,
                                    StatusList& status, SessionOptions options, SessionRecord& record, UsbDriver* usb) {
    UsbDriver& listing = usb != nullptr ? *usb : options.Usb();
    SessionRecordBuilder builder(linkName, filePath, &status);
    Clock& clock = options.TimeBase();
    const std::uint32_t startMs = clock.TickMs();
    const DownloadOutcome outcome = run(linkName, filePath, builder.Status(), builder.Hooked(std::move(options)));
    record = builder.Finish(outcome, (clock.TickMs() - startMs) / 1000.0, listing);
    return outcome;
}

}  // namespace kestrel
