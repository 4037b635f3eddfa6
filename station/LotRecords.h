#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "station/RecordSink.h"
#include "station/RecordedDownload.h"
#include "station/TraceFields.h"

namespace kestrel {

// The records of a lot, the same for every front end: a box's started record
// before a byte is sent to it, its result, the result of a box that never
// came, and what a lost record means. A box whose started record cannot be
// kept is not flashed, as nothing would show it was; a lost result fails the
// box's download, whatever the box said.
class LotRecords {
public:
    // `sink` null: no records are kept, and attempts count within this run.
    LotRecords(std::unique_ptr<RecordSink> sink, TraceFields fields);

    // Operator, station, lot and approval, as every record and event carries them.
    const TraceFields& Fields() const { return fields_; }

    // Whether a box with `label` may be flashed: not when that label passed in
    // the records before, unless `rework`. 0, or kExitLabelPassed (or the
    // sink's failure) with the sentence in `why`.
    int CheckLabel(const std::string& label, bool rework, std::string& why);
    // A box's download begins: its attempt is numbered among the downloads of
    // `box` (its serial number or label; empty: none, attempt 0) and its started
    // record written, with the trace `record` holds (the lot's fields, see
    // Fields(), and what the box got of its own). 0 when the box may be flashed; else the exit status (kExitOutput
    // or kExitCancelled) with the sentence in `why`.
    int Started(SessionRecordBuilder& record, const std::string& box, std::string& why);
    // The box's result record. 0, or kExitOutput with the sentence in `why`.
    int Ended(const SessionRecord& record, std::string& why);
    // The result of a box whose download never began: it did not come, or its wait was cancelled.
    int NeverBegan(const std::string& link, const std::string& file, bool cancelled, std::string& why);

    // Whether a record was lost: the run cannot end in success.
    bool Lost() const;

private:
    std::unique_ptr<RecordSink> sink_;
    TraceFields fields_;
    mutable std::mutex mutex_;
    std::map<std::string, int> attempts_;  // per box, without a sink
    bool lost_ = false;
};

// Why a record could not be kept, from the errno of its sink.
std::string DescribeRecordError(int error);

}  // namespace kestrel
