#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "station/AttemptIndex.h"
#include "station/RecordSink.h"
#include "station/SessionLogFile.h"

namespace kestrel {

// A station's records appended to a log file that other processes may share:
// each under the file's lock, chained to the record before it. The attempts
// are counted from the log as it stands, read once when it is opened and then
// only what was appended since.
class LogFileSink final : public RecordSink {
public:
    // The attempts are counted within `lot`; `labels`: the labels that passed are kept too.
    LogFileSink(std::string path, std::string lot, LockWait wait = {}, bool labels = false);

    // Before any box is touched: opens the log as a record will (creating it)
    // and reads what the attempts need. 0, or the errno of the failure. A log
    // whose last record carries no chain (written by an older version, or cut
    // short) gets `notice`: records appended now start a chain of their own.
    int Open(std::string& notice);

    int AppendStarted(SessionRecord& record) override;
    int AppendResult(const SessionRecord& record) override;
    int LabelPassed(const std::string& label, std::string& where) override;
    std::string Name() const override { return "the log " + path_; }

private:
    // Reads what was appended since the last look into the attempts, then appends `record`.
    int Append(SessionRecord& record, bool numbered);

    std::string path_;
    std::string lot_;
    LockWait wait_;
    bool labels_ = false;
    std::mutex mutex_;  // the boxes of a gang append from threads of their own
    AttemptIndex attempts_;
    std::uint64_t read_ = 0;  // how much of the log the attempts have seen
};

}  // namespace kestrel
