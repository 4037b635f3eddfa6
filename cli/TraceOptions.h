#pragma once

#include "cli/StationRun.h"

namespace kestrel::cli {

// Adds --operator, --station, --lot and --approved, which every record and
// JSON event carries, and the commands on a log: --verify-log, --report with
// --html and --csv. A command on a log takes no FILE and opens no box.
void AddTraceOptions(CLI::App& app, StationOptions& station);

// --verify-log: "intact: N records" and 0, or the first record that does not chain and 1.
int VerifyLogCommand(const StationOptions& station);

// --report: the yield report as text on stdout, and as a page and a table on request.
int ReportCommand(const StationOptions& station);

}  // namespace kestrel::cli
