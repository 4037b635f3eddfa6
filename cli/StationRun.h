#pragma once

#include "cli/StationOptions.h"

namespace kestrel::cli {

// Every candidate link, as text or JSON lines on stdout; the exit status.
int ListPortsCommand(const StationOptions& station);

// The downloads: one box or a gang, once or repeatedly, with JSON lines and a
// session log on request; the exit status (0 only when every download succeeded
// and every record was written, otherwise that of the first that failed). A
// log that cannot be written or a port given twice is refused as a usage error.
int RunStation(const StationOptions& station, const StationRequest& request);

}  // namespace kestrel::cli
