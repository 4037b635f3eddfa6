#pragma once

#include <string>

#include "station/YieldReport.h"

namespace kestrel::cli {

// The yield report as plain text for the terminal.
std::string ReportText(const YieldReport& report);

// Its table as CSV, one row per lot, operator, station and port, numbers without units.
std::string ReportCsv(const YieldReport& report);

// The whole report as one HTML page that needs nothing else: the charts are
// inline SVG, so it opens offline, without scripts, and prints as it shows.
std::string ReportHtml(const YieldReport& report, const std::string& logName);

}  // namespace kestrel::cli
