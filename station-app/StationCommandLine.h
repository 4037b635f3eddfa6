#pragma once

#include <string>
#include <vector>

#include "station/LotUnits.h"

namespace kestrel::stationapp {

// What kestrel-station was started with, the same for every front end; an
// empty firmware leaves the lot to the window. Text is UTF-8.
struct StationCommandLine {
    std::string firmware{};  // made absolute
    std::vector<std::string> ports{};
    bool allUsb = false;
    std::string logFile{}, database{}, operatorName{}, stationName{}, lot{}, approved{}, screenshot{};
    UnitOptions units{};  // what each box gets of its own
    int count = 0;
    bool showHelp = false, showVersion = false;
    std::string helpText{}, error{};
    // A field given on the command line wins over the one remembered.
    bool operatorGiven = false, stationGiven = false, lotGiven = false;
};

// `arguments` without the program's name. `-h`, `--help` (and `/?` on
// Windows) ask for the help; a value follows its option as the next argument
// or after '='.
StationCommandLine ParseStationCommandLine(const std::vector<std::string>& arguments);

// The words that differ by system: how a port is named, and the help's other spellings.
const char* StationPortHelp();
bool IsSystemHelpWord(const std::string& argument);
// `file` made absolute against the current folder; as given when that fails.
std::string AbsoluteFile(const std::string& file);

}  // namespace kestrel::stationapp
