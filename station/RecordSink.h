#pragma once

#include <string>

#include "station/SessionLog.h"

namespace kestrel {

// Where a station's records go, each kept once and in order: the log file
// first. What a front end does when one is lost is LotRecords' policy.
class RecordSink {
public:
    virtual ~RecordSink() = default;
    // Appends the started record of a download, first numbering
    // `record.trace.attempt`: one more than the downloads of its box
    // (`record.box`) in its lot that the records hold; 0 for a record without a box.
    // 0, or the errno of the failure (ETIMEDOUT: another writer held on; ECANCELED).
    virtual int AppendStarted(SessionRecord& record) = 0;
    virtual int AppendResult(const SessionRecord& record) = 0;
    // Whether a box with `label` passed in the records (in any lot): `where` names the records that say so, and
    // stays empty when none does. 0, or the errno.
    virtual int LabelPassed(const std::string& label, std::string& where) = 0;
    // Where the records go, for a message: "the log PATH".
    virtual std::string Name() const = 0;
};

}  // namespace kestrel
