#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "session/DownloadWorkflow.h"
#include "station/SessionLog.h"

namespace kestrel {

class UsbDriver;

// Fills the record a session log keeps of one download while the download runs:
// the port and its identity, the file by its absolute path, the image's size and
// digest, every status line with its time, the result. The one place a record
// is made, for the dialog, a single box and each box of a gang.
class SessionRecordBuilder {
public:
    // `status` (may be null) receives every call the download makes on Status().
    SessionRecordBuilder(const std::string& linkName, const std::string& filePath, StatusList* status);
    SessionRecordBuilder(const SessionRecordBuilder&) = delete;
    SessionRecordBuilder& operator=(const SessionRecordBuilder&) = delete;

    // `options` with hooks that note the image once built and the USB box that
    // opened; hooks already there are still called. Valid while the builder lives.
    SessionOptions Hooked(SessionOptions options);
    // The list the download reports to.
    StatusList& Status() { return recorder_; }
    // The image, when it was built before the download (a gang's is built once).
    void NoteImage(std::uint32_t size, std::uint8_t sourceKind, const std::string& sha256);
    // Lines reported on another list before the download (a gang's shared preparation).
    void NoteEarlierLines(const std::vector<TimedLine>& lines);
    // Who, where and for what: carried by the started record and the result.
    TraceFields& Trace() { return record_.trace; }
    // The box's own identity, as looked up before its download (BoxSerialOf).
    void NoteBox(const std::string& box) { record_.box = box; }
    // The record that says the download begins: what is known before it runs.
    SessionRecord StartRecord() const;
    // The record, once the download has ended; the port's identity is looked up
    // in the listing of `usb`.
    SessionRecord Finish(DownloadOutcome outcome, double seconds, UsbDriver& usb);

private:
    SessionRecord record_;
    std::optional<int> openedUsbIndex_;
    std::vector<TimedLine> earlierLines_;
    SessionLogRecorder recorder_;
};

// RunDownload, or a stand-in with its signature.
using DownloadRunner = std::function<DownloadOutcome(const std::string& linkName, const std::string& filePath,
                                                     StatusList& status, const SessionOptions& options)>;

// Runs one download through `run` and fills `record` through a
// SessionRecordBuilder. `status` sees every call as without the record. The
// port is looked up in the listing of `usb` (null: that of the options' driver,
// else the system's).
DownloadOutcome RunRecordedDownload(const DownloadRunner& run, const std::string& linkName, const std::string& filePath,
                                    StatusList& status, SessionOptions options, SessionRecord& record,
                                    UsbDriver* usb = nullptr);

}  // namespace kestrel
