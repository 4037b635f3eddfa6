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

int LotRecords::CheckLabel(const std::string& label, bool rework, std::string& why) {
    std::string where;
    if (label.empty() || rework || !sink_) {
        return kExitSuccess;
    }
    if (const int error = sink_->LabelPassed(label, where); error != 0) {
        why = "cannot read " + sink_->Name() + " for the label " + label + ": " + DescribeRecordError(error);
        return error == ECANCELED ? kExitCancelled : kExitOutput;
    }
    if (!where.empty()) {
        why = "the label " + label + " passed already in " + where + ": not flashed (--rework flashes it again)";
        return kExitLabelPassed;
    }
    return kExitSuccess;
}

int LotRecords::Started(SessionRecordBuilder& record, const std::string& box, std::string& why) {
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
    builder.Trace() = fields_;  // nothing of its own: it never began
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
