// kestrel-flash: flashes a firmware file into a Kestrel box from the command
// line, on the same core as the dialog; also dumps and checks images.
#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "base/FileOpen.h"
#include "cli/Arguments.h"
#include "cli/CommandModes.h"
#include "cli/DatabaseOutbox.h"
#include "cli/DryRun.h"
#include "cli/EnvironmentOptions.h"
#include "cli/HelpWords.h"
#include "cli/ImageFile.h"
#include "cli/Signals.h"
#include "cli/StationRun.h"
#include "cli/TraceOptions.h"
#include "cli/UnitOptions.h"
#include "emulator/BoxScenarios.h"
#include "session/ExitStatus.h"
#include "session/LinkNames.h"
#include "session/Version.h"

namespace {

using namespace kestrel;
using namespace kestrel::cli;

std::atomic<bool> cancelRequested{false};

// A status or JSON line that stdout did not take is lost to the script reading
// them: a success becomes a failure of its own class.
int WithOutputChecked(int status) {
    std::cout.flush();
    const bool lost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !std::cout.good();
    if (lost && status == kExitSuccess) {
        std::fprintf(stderr, "kestrel-flash: not every line could be written to stdout\n");
        return kExitOutput;
    }
    return status;
}

struct Options {
    std::string file;
    std::string emulate;  // scenario name; empty: a real box
    double timeoutSeconds = 30;
    bool quiet = false;
    std::string dumpImage;
    bool check = false;
};

// An empty value names nothing (an unset shell variable gives one): refused
// before anything is opened, rather than read as a default.
const CLI::Validator kNotEmpty([](const std::string& value) { return value.empty() ? "an empty value" : ""; }, "",
                               "NOT EMPTY");

}  // namespace

int main(int argc, char** argv) {
    HoldClosedStandardStreams();
    Options options;
    StationOptions station;
    CLI::App app{
        "Flashes a firmware file (.mot S-records or a .bin image) into a Kestrel box.\n"
        "Stdout carries the status lines of the download; progress and diagnostics go to stderr."};
    // Options are written alike on every system: on Windows "/path" stays a file.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string("kestrel-flash ") + kToolVersion);
    app.footer([&app] { return std::string(ExitStatusHelp(CancelledByHelp())) + "\n" + EnvironmentHelp(app); });
    // Needed by the download and a dry run, refused by the rest: the modes say which.
    auto* file = app.add_option("FILE", options.file, "The firmware file: .mot or .bin");
    auto* port = app.add_option("-p,--port", station.ports, PortOptionHelp())
                     ->default_str("USB");  // repeated: several boxes at once
    app.add_flag("--emulate{ok}", options.emulate,
                 "Flash into an emulated box in this process; --emulate=SCENARIO picks its behaviour: " +
                     emulator::ScenarioList())
        ->type_name("[=SCENARIO]")
        ->check([](const std::string& name) {
            return emulator::FindScenario(name)
                       ? std::string()
                       : "unknown scenario: " + name + " (one of " + emulator::ScenarioList() + ")";
        });
    app.add_option("--timeout", options.timeoutSeconds,
                   "Seconds the box may stay silent after the synchronisation before the download ends")
        ->check(NumberCheck())
        ->check(CLI::Range(0.1, 3600.0))
        ->capture_default_str();
    app.add_flag("-q,--quiet", options.quiet, "No progress on stderr");
    AddStationOptions(app, station);
    AddUnitOptions(app, station);
    AddTraceOptions(app, station);
    auto* dump = app.add_option("--dump-image", options.dumpImage,
                                "Read and build FILE only and write the image the box would receive to OUT")
                     ->type_name("OUT");
    app.add_flag("--check", options.check,
                 "Read and build FILE only, and report checksum mismatches, a wrong S5 count, "
                 "overlapping records and records of a type the box does not take on stderr; an "
                 "image is written only when none is found");
    for (auto* option : {file, port, dump, app.get_option("--log")}) {
        option->check(kNotEmpty);
    }
    // A name that can never be a link is refused now, rather than waited for with --wait until the bound.
    port->check(CLI::Validator(PortNameProblem, "", "PORT"));
    // For the shell completions: the scenario names from the one table, one a line.
    app.add_flag_callback("--list-scenarios",
                          [] {
                              for (const auto& scenario : emulator::BoxScenarios()) {
                                  std::printf("%s\n", scenario.name.c_str());
                              }
                              throw CLI::Success();
                          })
        ->group("");
    GroupOptions(app);
    try {
        Utf8Arguments arguments(argc, argv);
        ParseWithEnvironment(app, arguments.Count(), arguments.Values());
        if (!options.dumpImage.empty() && SameFile(options.dumpImage, options.file)) {
            throw CLI::ValidationError("--dump-image", "OUT is the firmware file itself");
        }
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? kExitSuccess : kExitUsage;
    }

    CancelOnInterrupt(cancelRequested);
    if (station.listPorts) {
        return WithOutputChecked(ListPortsCommand(station));
    }
    if (!station.verifyLog.empty()) {
        return WithOutputChecked(VerifyLogCommand(station));
    }
    if (!station.report.empty()) {
        return WithOutputChecked(ReportCommand(station));
    }
    if (!station.sendLog.empty()) {
        return WithOutputChecked(SendLogCommand(station));
    }
    if (options.check || !options.dumpImage.empty()) {
        UnitOptions units;
        if (const std::string wrong = UnitOptionsOf(station, units, true); !wrong.empty()) {
            std::fprintf(stderr, "kestrel-flash: %s\n", wrong.c_str());
            return kExitUsage;
        }
        return WithOutputChecked(DryRunCommand({.file = options.file,
                                                .dumpImage = options.dumpImage,
                                                .check = options.check,
                                                .fieldAt = units.fieldAt,
                                                .fieldLength = units.format.width}));
    }
    return WithOutputChecked(RunStation(station, {.file = options.file,
                                                  .emulate = options.emulate,
                                                  .timeoutSeconds = options.timeoutSeconds,
                                                  .quiet = options.quiet,
                                                  .cancelRequested = [] { return cancelRequested.load(); }}));
}
