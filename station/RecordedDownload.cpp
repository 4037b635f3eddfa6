#include "station/RecordedDownload.h"

#include <chrono>
#include <optional>

#include "links/UsbDriver.h"
#include "session/ExitStatus.h"
#include "session/Version.h"
#include "station/JsonLines.h"
#include "station/PortListing.h"
#include "station/Sha256.h"

namespace kestrel {

DownloadOutcome RunRecordedDownload(const DownloadRunner& run, const std::string& linkName, const std::string& filePath,
                                    StatusList& status, SessionOptions options, SessionRecord& record, UsbDriver* usb) {
    record = SessionRecord{};
    record.started = std::chrono::system_clock::now();
    record.toolVersion = kToolVersion;
    record.port = linkName;
    record.fileName = filePath;

    auto passOn = std::move(options.imageReady);
    options.imageReady = [&record, &passOn](const std::uint8_t* image, std::uint32_t length, std::uint8_t kind) {
        record.baudRate = BaudRateForSource(kind);
        record.imageSize = length;
        record.imageSha256 = Sha256Hex(image, length);
        if (passOn) {
            passOn(image, length, kind);
        }
    };

    std::optional<int> openedUsbIndex;
    auto passOnOpened = std::move(options.usbDeviceOpened);
    options.usbDeviceOpened = [&openedUsbIndex, &passOnOpened](int index) {
        openedUsbIndex = index;
        if (passOnOpened) {
            passOnOpened(index);
        }
    };

    SessionLogRecorder recorder(&status);
    const auto start = std::chrono::steady_clock::now();
    const DownloadOutcome outcome = run(linkName, filePath, recorder, options);
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    record.lines = recorder.Lines();
    record.outcome = OutcomeName(outcome);
    record.exitStatus = ExitStatusOf(outcome);
    UsbDriver* listing = usb != nullptr ? usb : options.usbDriver != nullptr ? options.usbDriver : &SystemUsbDriver();
    record.portIdentity = IdentityOfLink(linkName, openedUsbIndex, *listing);
    return outcome;
}

}  // namespace kestrel
