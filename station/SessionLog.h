#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "links/Clock.h"
#include "session/ForwardingStatusList.h"

namespace kestrel {

// A status line with the milliseconds since the download began.
struct TimedLine {
    std::uint32_t atMs = 0;
    std::string text;
};

// What the log keeps of one download.
struct SessionRecord {
    std::chrono::system_clock::time_point started{};
    std::string toolVersion;
    std::string port;
    std::string portIdentity;    // USB identity of the port, empty if unknown
    std::uint32_t baudRate = 0;  // 0: no image was built, so no line rate was chosen
    std::string fileName;
    std::uint32_t imageSize = 0;
    std::string imageSha256;  // empty: no image was built
    std::vector<TimedLine> lines;
    std::string reason;  // why the link or file could not be opened, beyond the status line; empty: nothing to add
    std::string outcome;
    int exitStatus = 0;
    double seconds = 0;
};

// Keeps every status line with its time for the record, and passes every
// call on to `inner` (may be null). The workflow empties its list as it
// starts; the record keeps what came before all the same.
class SessionLogRecorder : public ForwardingStatusList {
public:
    explicit SessionLogRecorder(StatusList* inner, Clock& clock = SteadyClock());

    void AppendStatus(const std::string& line) override;

    const std::vector<TimedLine>& Lines() const { return lines_; }

private:
    Clock& clock_;
    std::uint32_t startMs_;
    std::vector<TimedLine> lines_;
};

// The record as text, control characters in its fields escaped (\n, \x1B): a head line with the UTC start time and tool
// version, one "key: value" line per field, each status line with its offset, the result, and an empty line that ends
// the record.
std::string FormatSessionRecord(const SessionRecord& record);

// Appends the record to the file at `path`, creating it if need be, in one
// write so that records of boxes flashed at once never interleave. A record is
// written whole or not at all: after a short write the file is cut back to
// its size before. 0, or the errno of the failure.
int AppendSessionRecord(const std::string& path, const SessionRecord& record);

// Whether a record could be appended to `path`: opens it as AppendSessionRecord
// does (creating it), writing nothing. 0, or the errno of the failure.
int CheckSessionLog(const std::string& path);

// Appends `text` to the file at `path` as AppendSessionRecord does.
int AppendWhole(const std::string& path, const std::string& text);

}  // namespace kestrel
