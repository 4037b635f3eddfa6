#include "cli/StationTrace.h"

#include <cstdio>
#include <cstring>

#include "session/ExitStatus.h"
#include "station/SessionLog.h"

namespace kestrel::cli {

void StationTrace::Started(const std::string& link, const std::string& file, JsonLinesStatusList* json,
                           SessionRecordBuilder* record) {
    TraceFields fields = fields_;
    if (record != nullptr) {
        record->Trace() = fields;
        SessionRecord started = record->StartRecord();
        if (const int error = AppendStartedRecord(logFile_, started); error != 0) {
            std::fprintf(stderr, "kestrel-flash: cannot write the log %s: the started record of %s is lost: %s\n",
                         logFile_.c_str(), link.c_str(), std::strerror(error));
            logFailed_ = true;
        }
        // A lost record numbers nothing: count as the log would have had it.
        fields.attempt = started.trace.attempt > 0 ? started.trace.attempt : ++attempts_[link];
        record->Trace().attempt = fields.attempt;
    } else {
        fields.attempt = ++attempts_[link];
    }
    if (json != nullptr) {
        json->SetTrace(fields);
        json->Started(file);
    }
}

void StationTrace::NeverBegan(const std::string& link, const std::string& file, bool cancelled, JsonLineWriter* json,
                              bool gang) {
    const std::string outcome = cancelled ? "cancelled" : "not-attached";
    const int exitStatus = cancelled ? kExitCancelled : kExitLink;
    if (json != nullptr) {
        JsonLinesStatusList list(*json, nullptr, gang ? link : std::string());
        list.SetTrace(fields_);
        list.Result(outcome, exitStatus, "", 0);
    }
    if (!logFile_.empty()) {
        SessionRecordBuilder builder(link, file, nullptr);
        builder.Trace() = fields_;
        SessionRecord record = builder.StartRecord();
        record.isStart = false;
        record.outcome = outcome;
        record.exitStatus = exitStatus;
        Write(record);
    }
}

void StationTrace::Write(const SessionRecord& record) {
    if (const int error = AppendSessionRecord(logFile_, record); error != 0) {
        std::fprintf(stderr, "kestrel-flash: cannot write the log %s: the record of %s is lost: %s\n", logFile_.c_str(),
                     record.port.c_str(), std::strerror(error));
        logFailed_ = true;
    }
}

}  // namespace kestrel::cli
