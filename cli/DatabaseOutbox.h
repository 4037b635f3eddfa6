#pragma once

#include <memory>
#include <string>

#include "cli/StationOptions.h"
#include "station/RecordSender.h"

namespace kestrel::cli {

// --db: the records' sender, checked before any box, and the log it follows
// (--log, or the default outbox). 0, or the exit status with the reason on stderr.
int StartOutbox(const StationOptions& station, std::string& log, std::shared_ptr<RecordSender>& sender);

// At the end of a run: gives the sender its bound, then says on stderr what still waits.
void EndOutbox(const std::shared_ptr<RecordSender>& sender, const std::string& log);

// --send-log LOG --db URL: stores the records the database lacks, in the log's order; the exit status.
int SendLogCommand(const StationOptions& station);

}  // namespace kestrel::cli
