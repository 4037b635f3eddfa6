#include "cli/TraceOptions.h"

#include <regex>

#include <CLI/CLI.hpp>

namespace kestrel::cli {

namespace {

// A name or a path: an empty one (an unset shell variable gives one) names nothing.
struct NamedOption {
    const char* name;
    std::string StationOptions::*value;
    const char* type;
    const char* help;
};

const NamedOption kNamedOptions[] = {
    {"--operator", &StationOptions::operatorName, "NAME", "Who flashes: named in every record and JSON event"},
    {"--station", &StationOptions::stationName, "NAME", "The station flashing: named in every record and JSON event"},
    {"--lot", &StationOptions::lot, "LOT",
     "The production lot: named in every record and JSON event; attempts are counted within it"},
    {"--approved", &StationOptions::approved, "MANIFEST",
     "Flash only a file whose SHA-256 is listed in MANIFEST (sha256sum's format or certutil -hashfile's output); "
     "others are refused before any box is touched"},
    {"--verify-log", &StationOptions::verifyLog, "LOGFILE",
     "Check that every record of LOGFILE chains to the one before it, then end"},
    {"--report", &StationOptions::report, "LOGFILE|URL",
     "The yield of LOGFILE, or of the database at URL (a postgresql:// URI or keyword string; every station's "
     "records), per lot, operator, station and port, with the failures by stage and by exit status and the attempts "
     "per box, then end; --lot and --since pick the downloads"},
    {"--db", &StationOptions::database, "URL",
     "Also send every record to the PostgreSQL database at URL (a connection URI or keyword string), after the log "
     "has it: the log (--log, or records.log under $XDG_STATE_HOME/kestrel) keeps what the database cannot take yet; "
     "credentials it refuses are a usage error"},
    {"--send-log", &StationOptions::sendLog, "LOGFILE",
     "Store the records of LOGFILE that the database of --db lacks, in the log's order, then end"},
};

const NamedOption kReportOutputs[] = {
    {"--html", &StationOptions::reportHtml, "OUT", "With --report: also write it as one self-contained HTML page"},
    {"--csv", &StationOptions::reportCsv, "OUT", "With --report: also write its table as CSV"},
};

void AddNamed(CLI::App& app, StationOptions& station, const NamedOption& option) {
    static const CLI::Validator named([](const std::string& text) { return text.empty() ? "an empty value" : ""; }, "",
                                      "NOT EMPTY");
    app.add_option(option.name, station.*option.value, option.help)->type_name(option.type)->check(named);
}

}  // namespace

void AddTraceOptions(CLI::App& app, StationOptions& station) {
    for (const NamedOption& option : kNamedOptions) {
        AddNamed(app, station, option);
    }
    app.get_option("--send-log")->needs("--db");
    app.add_option("--since", station.since,
                   "With --report: only the downloads started at or after DATE (UTC, YYYY-MM-DD or "
                   "YYYY-MM-DDTHH:MM[:SS])")
        ->type_name("DATE")
        ->check(CLI::Validator(
            [](const std::string& value) {
                static const std::regex date(R"(\d{4}-\d{2}-\d{2}(T\d{2}:\d{2}(:\d{2})?)?)");
                return std::regex_match(value, date) ? std::string() : "not a date YYYY-MM-DD[THH:MM[:SS]]: " + value;
            },
            "", "DATE"));
    for (const NamedOption& option : kReportOutputs) {
        AddNamed(app, station, option);
    }
}

}  // namespace kestrel::cli
