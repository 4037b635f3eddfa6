#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "session/ForwardingStatusList.h"
#include "station/SessionLogFile.h"
#include "station/TraceFields.h"

namespace kestrel {

// A status line with the milliseconds since the download began.
struct TimedLine {
    std::uint32_t atMs = 0;
    std::string text;
};

// What the log keeps of one download: a "started" record as it begins, so that
// a run killed on the spot leaves its trace, and a "result" record as it ends.
struct SessionRecord {
    std::chrono::system_clock::time_point started{};
    bool isStart = false;  // a started record: no lines and no result yet
    TraceFields trace;
    std::string toolVersion;
    std::string port;
    std::string portIdentity;    // USB identity of the port, empty if unknown
    std::string box;             // the box's own identity (its USB serial number), the key of its attempts; empty: none
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

// `text` with control characters escaped (\n, \x1B), as the record's fields are.
std::string EscapedField(const std::string& text);

// The record as text without its chain: control characters in its fields escaped (\n, \x1B), a head line with the
// UTC start time and tool version, one "key: value" line per field, each status line with its offset, the result.
std::string FormatSessionRecord(const SessionRecord& record);

// Appends the record to the file at `path`, creating it if need be, chained to
// the record before it, in one write under the file's lock so that records of
// boxes and processes flashing at once never interleave or break the chain. A
// record is written whole or not at all. 0, or the errno of the failure.
int AppendSessionRecord(const std::string& path, const SessionRecord& record, const LockWait& wait = {});

// AppendUnderLock for the log's records: one writer of this process at a time.
int AppendChained(const std::string& path, const LogComposer& compose, const LockWait& wait);

// `record` chained to the log of `size` bytes that `read` reads.
std::string ChainedToTail(const SessionRecord& record, std::uint64_t size, const LogReader& read);

}  // namespace kestrel
