#include "cli/TraceOptions.h"

#include <regex>

namespace kestrel::cli {

namespace {

// A name or a path: an empty one (an unset shell variable gives one) names nothing.
CLI::Option* AddNamed(CLI::App& app, const std::string& name, std::string& value, const std::string& help,
                      const std::string& type) {
    static const CLI::Validator named([](const std::string& text) { return text.empty() ? "an empty value" : ""; }, "",
                                      "NOT EMPTY");
    return app.add_option(name, value, help)->type_name(type)->check(named);
}

}  // namespace

void AddTraceOptions(CLI::App& app, StationOptions& station) {
    AddNamed(app, "--operator", station.operatorName, "Who flashes: named in every record and JSON event", "NAME");
    AddNamed(app, "--station", station.stationName, "The station flashing: named in every record and JSON event",
             "NAME");
    AddNamed(app, "--lot", station.lot,
             "The production lot: named in every record and JSON event; attempts are counted within it", "LOT");
    AddNamed(app, "--approved", station.approved,
             "Flash only a file whose SHA-256 is listed in MANIFEST (sha256sum's format or certutil -hashfile's "
             "output); others are refused "
             "before any box is touched",
             "MANIFEST");
    AddNamed(app, "--verify-log", station.verifyLog,
             "Check that every record of LOGFILE chains to the one before it, then end", "LOGFILE");
    AddNamed(app, "--report", station.report,
             "The yield of LOGFILE, or of the database at a postgresql:// URL (every station's "
             "records), per lot, operator, station and port, with the failures by stage and by "
             "exit status and the attempts per box, then end; --lot and --since pick the "
             "downloads",
             "LOGFILE|URL");
    auto* database =
        AddNamed(app, "--db", station.database,
                 "Also send every record to the PostgreSQL database at URL (a connection URI or keyword "
                 "string), after the log has it: the log (--log, or records.log under $XDG_STATE_HOME/kestrel) "
                 "keeps what the database cannot take yet; credentials it refuses are a usage error",
                 "URL");
    AddNamed(app, "--send-log", station.sendLog,
             "Store the records of LOGFILE that the database of --db lacks, in the log's order, "
             "then end",
             "LOGFILE")
        ->needs(database);
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
    AddNamed(app, "--html", station.reportHtml, "With --report: also write it as one self-contained HTML page", "OUT");
    AddNamed(app, "--csv", station.reportCsv, "With --report: also write its table as CSV", "OUT");
}

}  // namespace kestrel::cli
