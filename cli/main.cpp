// kestrel-flash: flashes a firmware file into a Kestrel box from the command
// line, on the same core as the dialog; also dumps and checks images.
#include <atomic>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/Arguments.h"
#include "cli/ConsoleStatusList.h"
#include "cli/EmulatedBox.h"
#include "cli/Signals.h"
#include "cli/StationRun.h"
#include "cli/UsbHint.h"
#include "links/FileOpen.h"
#include "readers/SRecordCheck.h"
#include "session/DataConverter.h"
#include "session/DownloadWorkflow.h"
#include "session/ExitStatus.h"
#include "session/PrepareImage.h"
#include "session/PrintingStatusList.h"
#include "session/Version.h"

namespace {

using namespace kestrel;
using namespace kestrel::cli;

std::atomic<bool> cancelRequested{false};

struct Options {
    std::string file;
    std::string port = "USB";
    std::string emulate;  // scenario name; empty: a real box
    double timeoutSeconds = 30;
    bool quiet = false;
    std::string dumpImage;
    bool check = false;
};

bool IsMot(const std::string& path) {
    if (path.size() < 4) {
        return false;
    }
    std::string extension = path.substr(path.size() - 4);
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension == ".mot";
}

// --dump-image and --check: the preparation stages only, no link.
int Prepare(const Options& options) {
    PrintingStatusList status(stdout);
    auto session = std::make_unique<DataConverter>(status);
    if (PrepareImage(*session, options.file, status) != DownloadOutcome::Success) {
        return kExitStageFailed;
    }
    if (!options.dumpImage.empty()) {
        std::ofstream out(PathFromUtf8(options.dumpImage), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(session->OutputBuffer.data()), session->outputLength);
        out.close();
        if (!out) {
            std::fprintf(stderr, "kestrel-flash: cannot write %s\n", options.dumpImage.c_str());
            return kExitStageFailed;
        }
    }
    if (!options.check || !IsMot(options.file)) {
        return kExitSuccess;
    }
    const auto findings = CheckSRecords(session->SourceBuffer.data(), session->sourceLength);
    for (const auto& finding : findings) {
        std::fprintf(stderr, "%s:%u: %s\n", options.file.c_str(), finding.line, finding.text.c_str());
    }
    return findings.empty() ? kExitSuccess : kExitStageFailed;
}

int Download(const Options& options) {
    ConsoleStatusList status(stdout, stderr, !options.quiet);
    SessionOptions session;
    session.answerTimeoutMs = static_cast<std::uint32_t>(options.timeoutSeconds * 1000.0 + 0.5);
    session.cancelRequested = [] { return cancelRequested.load(); };

    std::string linkName = options.port;
    std::unique_ptr<EmulatedBox> box;
    if (!options.emulate.empty()) {
        EmulatedScenario scenario = *FindScenario(options.emulate);
        // A binary image is firmware of type 2: the box that takes it announces so.
        if (!IsMot(options.file) && scenario.behaviour.firmwareType == 1) {
            scenario.behaviour.firmwareType = 2;
        }
        box = std::make_unique<EmulatedBox>(scenario);
        if (!box->Start()) {
            std::fprintf(stderr, "kestrel-flash: cannot start the emulated box: %s\n", box->Error().c_str());
            return kExitLink;
        }
        linkName = box->LinkName();
        session.usbDriver = box->Driver();
        if (!options.quiet) {
            std::fprintf(stderr, "kestrel-flash: emulated box (%s) on %s\n", options.emulate.c_str(), linkName.c_str());
        }
    }

    CancelOnInterrupt(cancelRequested);
    const DownloadOutcome outcome = RunDownload(linkName, options.file, status, session);
    if (outcome == DownloadOutcome::LinkFailed && session.usbDriver == nullptr) {
        PrintUsbHint(linkName, stderr);
    }
    return ExitStatusOf(outcome);
}

std::string ScenarioList() {
    std::string list;
    for (const auto& name : ScenarioNames()) {
        list += (list.empty() ? "" : ", ") + name;
    }
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    StationOptions station;
    CLI::App app{
        "Flashes a firmware file (.mot S-records or a .bin image) into a Kestrel box.\n"
        "Stdout carries the status lines of the download; progress and diagnostics go to stderr."};
    // Options are written alike on every system: on Windows "/path" stays a file.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string("kestrel-flash ") + kToolVersion);
    app.footer(ExitStatusHelp());
    auto* file = app.add_option("FILE", options.file, "The firmware file: .mot or .bin")->required();
    app.add_option("-p,--port", station.ports,
                   "The link: USB (the first box on USB), USB:N or USB:SERIAL (that box only), COM1..COM8, or a "
                   "device path such as /dev/ttyUSB0; given again, the boxes are flashed at once")
        ->default_str("USB");  // repeated: several boxes at once
    app.add_flag(
           "--emulate{ok}", options.emulate,
           "Flash into an emulated box in this process; --emulate=SCENARIO picks its behaviour: " + ScenarioList())
        ->type_name("[=SCENARIO]")
        ->check([](const std::string& name) {
            return FindScenario(name) ? std::string()
                                      : "unknown scenario: " + name + " (one of " + ScenarioList() + ")";
        });
    app.add_option("--timeout", options.timeoutSeconds,
                   "Seconds the box may stay silent after the synchronisation before the download ends")
        ->check(CLI::Range(0.1, 3600.0))
        ->capture_default_str();
    app.add_flag("-q,--quiet", options.quiet, "No progress on stderr");
    auto* dump = app.add_option("--dump-image", options.dumpImage,
                                "Read and build FILE only and write the image the box would receive to OUT")
                     ->type_name("OUT");
    auto* check = app.add_flag("--check", options.check,
                               "Read and build FILE only, and report checksum mismatches, a wrong S5 count and "
                               "overlapping records on stderr");
    AddStationOptions(app, file, station);
    dump->excludes("--emulate")->excludes("--port");
    check->excludes("--emulate")->excludes("--port");
    try {
        Utf8Arguments arguments(argc, argv);
        app.parse(arguments.Count(), arguments.Values());
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? kExitSuccess : kExitUsage;
    }

    if (!station.ports.empty()) {
        options.port = station.ports.front();
    }
    if (station.listPorts) {
        return ListPortsCommand(station);
    }
    if (options.check || !options.dumpImage.empty()) {
        return Prepare(options);
    }
    if (WantsStationRun(station)) {
        CancelOnInterrupt(cancelRequested);
        return RunStation(station, {.file = options.file,
                                    .emulate = options.emulate,
                                    .timeoutSeconds = options.timeoutSeconds,
                                    .quiet = options.quiet,
                                    .cancelRequested = [] { return cancelRequested.load(); }});
    }
    return Download(options);
}
