#include "cli/StationOptions.h"

#include <cmath>
#include <cstdlib>

#include <CLI/CLI.hpp>

namespace kestrel::cli {

CLI::Validator NumberCheck() {
    return {[](const std::string& value) {
                char* end = nullptr;
                const double number = std::strtod(value.c_str(), &end);
                // Said before the range, which would call "soon" out of range and take "nan" for in it.
                const bool whole = !value.empty() && end == value.c_str() + value.size();
                return whole && std::isfinite(number) ? std::string() : "not a number: " + value;
            },
            "", "NUMBER"};
}

void AddStationOptions(CLI::App& app, StationOptions& station) {
    app.add_flag("--json", station.json,
                 "Stdout carries one JSON object per line: each status line, each progress step and the result");
    app.add_option("--log", station.logFile, "Append a started and a result record of each download to this file")
        ->type_name("FILE");
    app.add_flag("--all-usb", station.allUsb, "Flash every USB box attached, all at once (each by its serial number)");
    app.add_flag("--wait", station.wait, "Wait for each box to be attached before its download");
    app.add_option("--wait-timeout", station.waitTimeoutSeconds, "Seconds --wait waits at most; 0: no bound")
        ->check(NumberCheck())
        ->check(CLI::Range(0.0, 86400.0))
        ->needs("--wait");
    app.add_option("--repeat", station.repeat,
                   "Downloads one after another; with --wait each next round waits for the boxes to be "
                   "removed and attached again; 0: until interrupted")
        ->check(NumberCheck())
        ->check(CLI::Range(0, 1000000));
    // -p given again adds a box; each -p takes one name, so FILE after it stays FILE.
    app.get_option("--port")->allow_extra_args(false);
    app.add_flag("--list-ports", station.listPorts,
                 "List every serial device and USB box a download could use, then end; with --json as JSON lines");
}

}  // namespace kestrel::cli
