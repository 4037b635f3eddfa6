#include "station-app/StationCommandLine.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "session/LinkNames.h"
#include "station/RecordDatabase.h"

namespace kestrel::stationapp {

namespace {

struct OptionHelp {
    const char* names;
    const char* value;  // null: a switch
    const char* text;
};

std::string HelpText() {
    const OptionHelp options[] = {
        {"-h, --help", nullptr, "Show this help."},
        {"--version", nullptr, "Show the version."},
        {"--firmware", "FILE", "The firmware file (.mot or .bin); starts the lot."},
        {"--port", "NAME", StationPortHelp()},
        {"--all-usb", nullptr, "Flash every USB box attached."},
        {"--log", "LOGFILE", "Append a record of each download to this file."},
        {"--db", "URL", "Also send every record to this PostgreSQL database (also KESTREL_DB)."},
        {"--operator", "NAME", "Who flashes, in every record."},
        {"--station", "NAME", "The station's name, in every record."},
        {"--lot", "ID", "The lot, in every record."},
        {"--approved", "MANIFEST", "A SHA-256 manifest; firmware not listed in it is not flashed."},
        {"--count", "N", "End the lot after N boxes; exit 0 when all passed, 1 otherwise."},
        {"--screenshot", "PNG", "Save a picture of the window as the lot ends."},
        {"--serial-at", "ADDRESS", "Write each box's own serial number or unit data row into its image here."},
        {"--serial-format", "FORMAT", "u32le (the default), u32be or ascii:N."},
        {"--serial-counter", "FILE|db:NAME",
         "The file that holds the next serial number, or the --db database's sequence NAME; each box takes one."},
        {"--serial-block", "N", "With db:NAME, how many numbers the station reserves at once (100)."},
        {"--serial-first", "N", "The first number, when the counter is made."},
        {"--unit-data", "FILE", "One row of hex bytes per unit, used in order."},
    };
    std::string text =
        "Usage: kestrel-station [options]\n"
        "Flashes every Kestrel box plugged in on a production line, and counts the lot.\n\n"
        "Options:\n";
    for (const auto& option : options) {
        std::string left = std::string("  ") + option.names + (option.value ? std::string(" ") + option.value : "");
        left.resize(std::max<std::size_t>(left.size() + 2, 25), ' ');
        text += left + option.text + "\n";
    }
    return text;
}

bool TakesValue(const std::string& name) {
    for (const char* option :
         {"firmware", "port", "log", "db", "operator", "station", "lot", "approved", "count", "screenshot", "serial-at",
          "serial-format", "serial-counter", "serial-block", "serial-first", "unit-data"}) {
        if (name == option) {
            return true;
        }
    }
    return false;
}

}  // namespace

StationCommandLine ParseStationCommandLine(const std::vector<std::string>& arguments) {
    StationCommandLine result;
    result.helpText = HelpText();
    bool firmwareGiven = false, blockGiven = false;
    for (std::size_t i = 0; i < arguments.size() && result.error.empty(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-h" || argument == "--help" || IsSystemHelpWord(argument)) {
            result.showHelp = true;
            continue;
        }
        if (argument == "--version") {
            result.showVersion = true;
            continue;
        }
        if (argument == "--all-usb") {
            result.allUsb = true;
            continue;
        }
        if (argument.rfind("--", 0) != 0 || argument.size() == 2) {
            result.error =
                argument.rfind('-', 0) == 0 ? "Unknown option '" + argument + "'." : "Unexpected argument: " + argument;
            break;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        if (!TakesValue(name)) {
            result.error = "Unknown option '" + name + "'.";
            break;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            result.error = "Missing value after '" + argument + "'.";
            break;
        }
        if (name == "firmware") {
            result.firmware = value;
            firmwareGiven = true;
        } else if (name == "port") {
            if (value.empty()) {
                result.error = "The port name must not be empty.";
            } else if (const std::string problem = PortNameProblem(value); !problem.empty()) {
                result.error = problem;
            } else if (std::find(result.ports.begin(), result.ports.end(), value) != result.ports.end()) {
                result.error = "A port is given twice.";
            } else {
                result.ports.push_back(value);
            }
        } else if (name == "log") {
            result.logFile = value;
        } else if (name == "db") {
            result.database = value;
        } else if (name == "serial-at" || name == "serial-first" || name == "serial-block") {
            std::uint64_t number = 0;
            const bool hex = value.starts_with("0x") || value.starts_with("0X");
            const char* begin = value.data() + (hex ? 2 : 0);
            const auto [end, error] = std::from_chars(begin, value.data() + value.size(), number, hex ? 16 : 10);
            if (begin == value.data() + value.size() || error != std::errc() || end != value.data() + value.size() ||
                number > 0xFFFFFFFFu) {
                result.error = "--" + name + " takes a number: " + value;
            } else if (name == "serial-at") {
                result.units.fieldAt = static_cast<std::uint32_t>(number);
            } else if (name == "serial-block") {
                result.units.block = number;
                blockGiven = true;
            } else {
                result.units.first = number;
            }
        } else if (name == "serial-format") {
            result.error = ParseSerialFormat(value, result.units.format);
        } else if (name == "serial-counter") {
            result.units.counter = value;
        } else if (name == "unit-data") {
            result.units.unitData = value;
        } else if (name == "operator") {
            result.operatorName = value;
            result.operatorGiven = true;
        } else if (name == "station") {
            result.stationName = value;
            result.stationGiven = true;
        } else if (name == "lot") {
            result.lot = value;
            result.lotGiven = true;
        } else if (name == "approved") {
            result.approved = value;
        } else if (name == "screenshot") {
            result.screenshot = value;
        } else if (name == "count") {
            int count = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), count);
            if (error != std::errc() || end != value.data() + value.size() || count < 1) {
                result.error = "--count takes a number of boxes, 1 or more.";
            }
            result.count = count;
        }
    }
    if (result.error.empty() &&
        result.units.fieldAt.has_value() != !(result.units.counter + result.units.unitData).empty()) {
        result.error = "--serial-at takes one of --serial-counter and --unit-data, and they need it.";
    }
    if (result.error.empty() && !result.units.counter.empty() && !result.units.unitData.empty()) {
        result.error = "--serial-counter and --unit-data exclude each other.";
    }
    if (result.error.empty() && blockGiven && !result.units.counter.starts_with("db:")) {
        result.error = "--serial-block needs --serial-counter db:NAME.";
    }
    if (const char* database = std::getenv("KESTREL_DB"); result.database.empty() && database != nullptr) {
        result.database = database;
    }
    // Refused before a window opens: no lot of this command line could ever start.
    if (result.error.empty() && !result.showHelp && !result.showVersion && !result.database.empty() &&
        !RecordDatabaseAvailable()) {
        result.error = "a records database (--db) is not available on this platform";
    }
    if (firmwareGiven && !result.firmware.empty()) {
        result.firmware = AbsoluteFile(result.firmware);
    }
    return result;
}

}  // namespace kestrel::stationapp
