#pragma once

#include <string>

#include "cli/StationOptions.h"
#include "station/TraceFields.h"

namespace kestrel::cli {

// With --approved: the firmware file's SHA-256 must be in the manifest, else
// the run is refused before any box is touched. Notes the approval in `trace`.
// 0 when the file may be flashed (or no manifest was asked for), else the
// exit status, with its line on stderr.
int CheckApproval(const StationOptions& station, const std::string& file, TraceFields& trace);

}  // namespace kestrel::cli
