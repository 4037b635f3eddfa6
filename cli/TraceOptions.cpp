#include "cli/TraceOptions.h"

#include <regex>

namespace kestrel::cli {

void AddTraceOptions(CLI::App& app, StationOptions& station) {
    const auto* notEmpty = "NOT EMPTY";
    const CLI::Validator named([](const std::string& value) { return value.empty() ? "an empty value" : ""; }, "",
                               notEmpty);
    app.add_option("--operator", station.operatorName, "Who flashes: named in every record and JSON event")
        ->type_name("NAME")
        ->check(named);
    app.add_option("--station", station.stationName, "The station flashing: named in every record and JSON event")
        ->type_name("NAME")
        ->check(named);
    app.add_option("--lot", station.lot,
                   "The production lot: named in every record and JSON event; attempts are counted within it")
        ->type_name("LOT")
        ->check(named);
    app.add_option("--approved", station.approved,
                   "Flash only a file whose SHA-256 is listed in MANIFEST (sha256sum's format or certutil -hashfile's "
                   "output); others are refused "
                   "before any box is touched")
        ->type_name("MANIFEST")
        ->check(named);
    app.add_option("--verify-log", station.verifyLog,
                   "Check that every record of LOGFILE chains to the one before it, then end")
        ->type_name("LOGFILE")
        ->check(named);
    app.add_option("--report", station.report,
                   "The yield of LOGFILE, or of the database at a postgresql:// URL (every station's "
                   "records), per lot, operator, station and port, with the failures by stage and by "
                   "exit status and the attempts per box, then end; --lot and --since pick the "
                   "downloads")
        ->type_name("LOGFILE|URL")
        ->check(named);
    auto* database =
        app.add_option("--db", station.database,
                       "Also send every record to the PostgreSQL database at URL (a connection URI or keyword "
                       "string), after the log has it: the log (--log, or records.log under $XDG_STATE_HOME/kestrel) "
                       "keeps what the database cannot take yet; credentials it refuses are a usage error")
            ->type_name("URL")
            ->check(named);
    app.add_option("--send-log", station.sendLog,
                   "Store the records of LOGFILE that the database of --db lacks, in the log's order, "
                   "then end")
        ->type_name("LOGFILE")
        ->check(named)
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
    app.add_option("--html", station.reportHtml, "With --report: also write it as one self-contained HTML page")
        ->type_name("OUT")
        ->check(named);
    app.add_option("--csv", station.reportCsv, "With --report: also write its table as CSV")
        ->type_name("OUT")
        ->check(named);
}

}  // namespace kestrel::cli
