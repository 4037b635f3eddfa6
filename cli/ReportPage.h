#pragma once

#include <string>

#include "station/YieldReport.h"

namespace kestrel::cli {

// The yield report as plain text for the terminal.
std::string ReportText(const YieldReport& report);

// Its table as CSV, one row per lot, operator, station and port, numbers without units.
std::string ReportCsv(const YieldReport& report);
// What a CSV file begins with on this system: on Windows the UTF-8 byte order
// mark, without which Excel reads the file in the local code page and garbles
// every name beyond ASCII; nothing elsewhere, where tools take UTF-8 as it is.
const char* CsvStart();

// The whole report as one HTML page that needs nothing else: the charts are
// inline SVG, so it opens offline, without scripts, and prints as it shows.
std::string ReportHtml(const YieldReport& report, const std::string& logName);

}  // namespace kestrel::cli
