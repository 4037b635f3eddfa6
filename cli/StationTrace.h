#pragma once

#include <map>
#include <mutex>
#include <string>

#include "station/JsonLines.h"
#include "station/RecordedDownload.h"
#include "station/TraceFields.h"

namespace kestrel::cli {

// What a station keeps of every box it tries: the started record and event as
// its download begins, its result, and a result for a box that never came.
// Writes the records into the log when there is one.
class StationTrace {
public:
    StationTrace(std::string logFile, TraceFields fields) : logFile_(std::move(logFile)), fields_(std::move(fields)) {}

    // The fields every box's lists carry until its attempt is known.
    const TraceFields& Fields() const { return fields_; }

    // A box's download begins: numbers its attempt (from the log, so that runs
    // sharing it count together; without a log within this run), writes its
    // started record and JSON event (`json` and `record` may be null).
    void Started(const std::string& link, const std::string& file, JsonLinesStatusList* json,
                 SessionRecordBuilder* record);

    // A box that did not come, or whose wait was cancelled: its result, no
    // download begun, as a JSON event (when `json` is given; led by its port in a gang) and a record.
    void NeverBegan(const std::string& link, const std::string& file, bool cancelled, JsonLineWriter* json, bool gang);

    // Appends `record`; a record that is lost is said on stderr with the box it was for, and remembered.
    void Write(const SessionRecord& record);

    bool LogFailed() const { return logFailed_; }

private:
    std::string logFile_;
    TraceFields fields_;
    std::map<std::string, int> attempts_;  // per port, without a log
    bool logFailed_ = false;
};

}  // namespace kestrel::cli
