#include "station/LotRecords.h"

#include <cerrno>
#include <cstring>

#include "base/SystemErrorText.h"
#include "session/ExitStatus.h"

namespace kestrel {

std::string DescribeRecordError(int error) {
    switch (error) {
        case ETIMEDOUT:
            return "another process held its lock for too long";
        case ECANCELED:
            return "cancelled while waiting for its lock";
        default:
            return SystemErrorText(error);
    }
}

LotRecords::LotRecords(std::unique_ptr<RecordSink> sink, TraceFields fields)
    : sink_(std::move(sink)), fields_(std::move(fields)) {}

int LotRecords::Started(SessionRecordBuilder& record, const std::string& box, std::string& why) {
    record.Trace() = fields_;
    record.NoteBox(box);
    if (!sink_) {
        std::lock_guard lock(mutex_);
        record.Trace().attempt = box.empty() ? 0 : ++attempts_[box];
        return kExitSuccess;
    }
    SessionRecord started = record.StartRecord();
    const int error = sink_->AppendStarted(started);
    record.Trace().attempt = started.trace.attempt;
    if (error == 0) {
        return kExitSuccess;
    }
    why = "cannot write " + sink_->Name() + ": the started record of " + started.port +
          " is lost: " + DescribeRecordError(error) + "; not flashed";
    std::lock_guard lock(mutex_);
    lost_ = lost_ || error != ECANCELED;
    return error == ECANCELED ? kExitCancelled : kExitOutput;
}

int LotRecords::Ended(const SessionRecord& record, std::string& why) {
    if (!sink_) {
        return kExitSuccess;
    }
    const int error = sink_->AppendResult(record);
    if (error == 0) {
        return kExitSuccess;
    }
    why =
        "cannot write " + sink_->Name() + ": the record of " + record.port + " is lost: " + DescribeRecordError(error);
    std::lock_guard lock(mutex_);
    lost_ = true;
    return kExitOutput;
}

int LotRecords::NeverBegan(const std::string& link, const std::string& file, bool cancelled, std::string& why) {
    SessionRecordBuilder builder(link, file, nullptr);
    builder.Trace() = fields_;
    SessionRecord record = builder.StartRecord();
    record.isStart = false;
    record.outcome = cancelled ? "cancelled" : "not-attached";
    record.exitStatus = cancelled ? kExitCancelled : kExitLink;
    return Ended(record, why);
}

bool LotRecords::Lost() const {
    std::lock_guard lock(mutex_);
    return lost_;
}

}  // namespace kestrel
