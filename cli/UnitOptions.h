#pragma once

#include "cli/StationOptions.h"
#include "station/LotUnits.h"

namespace kestrel::cli {

// Adds --serial-at, --serial-format, --serial-counter, --serial-first,
// --unit-data, --label and --rework: what each box gets of its own.
void AddUnitOptions(CLI::App& app, StationOptions& station);

// The units the command line asks for: none when --serial-at is not given.
// `fieldOnly`: a dry run, which needs no source of values. An empty string, or
// why the words do not fit (a usage error).
std::string UnitOptionsOf(const StationOptions& station, UnitOptions& units, bool fieldOnly = false);

}  // namespace kestrel::cli
