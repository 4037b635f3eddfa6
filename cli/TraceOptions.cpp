#include "cli/TraceOptions.h"

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
    auto* verify = app.add_option("--verify-log", station.verifyLog,
                                  "Check that every record of LOGFILE chains to the one before it, then end")
                       ->type_name("LOGFILE")
                       ->check(named);
    auto* report = app.add_option("--report", station.report,
                                  "The yield of LOGFILE per lot, operator, station and port, with the failures by "
                                  "stage and by exit status and the attempts per box, then end")
                       ->type_name("LOGFILE")
                       ->check(named);
    app.add_option("--html", station.reportHtml, "With --report: also write it as one self-contained HTML page")
        ->type_name("OUT")
        ->check(named)
        ->needs(report);
    app.add_option("--csv", station.reportCsv, "With --report: also write its table as CSV")
        ->type_name("OUT")
        ->check(named)
        ->needs(report);
    verify->excludes(report);
    // A command on a log opens no box: what only a download uses means nothing to it.
    for (auto* command : {verify, report}) {
        for (const char* name :
             {"--port", "--emulate", "--timeout", "--json", "--log", "--all-usb", "--wait", "--repeat", "--dump-image",
              "--check", "--list-ports", "--operator", "--station", "--lot", "--approved", "FILE"}) {
            command->excludes(name);
        }
    }
}

}  // namespace kestrel::cli
