#include "cli/StationRun.h"

#include <algorithm>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include "cli/Approval.h"
#include "cli/BoxWait.h"
#include "cli/ConsoleStatusList.h"
#include "cli/EmulatedBox.h"
#include "cli/GangConsole.h"
#include "cli/SourceHints.h"
#include "cli/StationTrace.h"
#include "session/ExitStatus.h"
#include "session/LinkNames.h"
#include "station/GangDownload.h"
#include "station/JsonLines.h"
#include "station/OpenFailureHint.h"
#include "station/PortListing.h"
#include "station/RecordedDownload.h"
#include "station/SessionLog.h"
#include "station/Sha256.h"

namespace kestrel::cli {

namespace {

// Advice beyond the status lines, on a line of its own.
void PrintHint(const std::string& hint) {
    if (!hint.empty()) {
        std::fprintf(stderr, "kestrel-flash: %s\n", hint.c_str());
    }
}

using Clock = std::chrono::steady_clock;

// One box of a round: its link, its driver and the lists its lines pass through.
struct BoxReport {
    std::string link;
    UsbDriver* usbDriver = nullptr;
    std::unique_ptr<StatusList> out;               // stdout: plain, prefixed or JSON
    std::unique_ptr<SessionRecordBuilder> record;  // with --log
    StatusList* top = nullptr;                     // what the session reports to
    std::optional<OpenFailure> openFailure;        // what did not open, and why
};

class StationRunner {
public:
    StationRunner(const StationOptions& station, const StationRequest& request, const TraceFields& trace)
        : station_(station), request_(request), trace_(station.logFile, trace) {}

    // An exit status of the downloads; a record lost from the log turns a success into a failure.
    int Run() {
        const int status = RunRounds();
        return status == kExitSuccess && trace_.LogFailed() ? kExitOutput : status;
    }

private:
    int RunRounds() {
        if (!SetUpBoxes()) {
            return kExitLink;
        }
        int status = kExitSuccess;
        for (int round = 1; station_.repeat == 0 || round <= station_.repeat; ++round) {
            // --all-usb takes the boxes attached now, so a station can swap in new ones.
            if (ListsAllUsb() && !FindAllUsb()) {
                return FirstFailure(status, Cancelled() ? kExitCancelled : kExitLink);
            }
            std::vector<bool> here(links_.size(), true);
            if (station_.wait && !ListsAllUsb()) {
                here = WaitForAttached(Waited(), station_.waitTimeoutSeconds);
                status = FirstFailure(status, RecordAbsent(here));
            }
            if (Cancelled()) {
                return FirstFailure(status, kExitCancelled);
            }
            const int roundStatus = RunPresent(here);
            status = FirstFailure(status, roundStatus);
            if (roundStatus == kExitCancelled || Cancelled()) {
                return FirstFailure(status, kExitCancelled);
            }
            const bool more = station_.repeat == 0 || round < station_.repeat;
            // The next round is for the next boxes: the flashed ones go first.
            if (more && station_.wait && request_.emulate.empty() &&
                !WaitForRemoval(Waited(), here, station_.waitTimeoutSeconds)) {
                return FirstFailure(status, Cancelled() ? kExitCancelled : kExitLink);
            }
        }
        return status;
    }

    static int FirstFailure(int sofar, int next) { return sofar != kExitSuccess ? sofar : next; }
    bool Cancelled() const { return request_.cancelRequested && request_.cancelRequested(); }

    bool ListsAllUsb() const { return station_.allUsb && request_.emulate.empty(); }
    UsbDriver& Usb() const { return request_.usbDriver != nullptr ? *request_.usbDriver : SystemUsbDriver(); }
    UsbDriver& DriverFor(std::size_t box) const { return drivers_[box] != nullptr ? *drivers_[box] : Usb(); }

    bool SetUpBoxes() {
        links_ = station_.ports;
        if (!request_.emulate.empty()) {
            // One emulated box for each port asked for; its own link replaces the name.
            const std::size_t count = links_.empty() ? 1 : links_.size();
            links_.clear();
            return StartEmulatedBoxes(request_.emulate, request_.file, count, request_.quiet, emulated_, links_,
                                      drivers_);
        }
        if (links_.empty() && !station_.allUsb) {
            links_.push_back("USB");
        }
        drivers_.assign(links_.size(), request_.usbDriver);
        return true;
    }

    // Every USB box attached, each by its serial number; with --wait the first
    // one to be attached is waited for.
    bool FindAllUsb() {
        std::vector<UsbDeviceInfo> devices;
        const auto found = [&] {
            devices.clear();
            return Usb().ListDevices(devices) == 0 && !devices.empty();
        };
        if (station_.wait && !request_.quiet) {
            std::fprintf(stderr, "kestrel-flash: waiting for a USB box to be attached\n");
        }
        if (!(station_.wait ? WaitUntil(found, station_.waitTimeoutSeconds, request_.cancelRequested) : found())) {
            std::fprintf(stderr, "kestrel-flash: --all-usb: %s\n", Cancelled() ? "cancelled" : "no USB box found");
            return false;
        }
        links_.clear();
        for (const auto& device : devices) {
            // A serial number two boxes share would send both downloads to the first: such boxes go by index.
            const auto sharing = std::count_if(devices.begin(), devices.end(), [&device](const UsbDeviceInfo& other) {
                return other.serialNumber == device.serialNumber;
            });
            links_.push_back(sharing > 1 ? "USB:" + std::to_string(device.index) : UsbLinkName(device));
        }
        drivers_.assign(links_.size(), request_.usbDriver);
        return true;
    }

    WaitedBoxes Waited() const { return {links_, drivers_, Usb(), request_.cancelRequested, request_.quiet}; }

    // Each box that did not come, or all when the wait was cancelled, has its
    // result on record; the exit status of the first, or 0 when all came.
    int RecordAbsent(const std::vector<bool>& here) {
        int status = kExitSuccess;
        for (std::size_t i = 0; i < links_.size(); ++i) {
            if (!here[i] || Cancelled()) {
                trace_.NeverBegan(links_[i], request_.file, Cancelled(), station_.json ? &json_ : nullptr,
                                  links_.size() > 1);
                status = FirstFailure(status, Cancelled() ? kExitCancelled : kExitLink);
            }
        }
        return status;
    }

    // The round's downloads into the boxes that are here; a gang stays one, its lines led by their ports.
    int RunPresent(const std::vector<bool>& here) {
        const std::vector<std::string> all = links_;
        const std::vector<UsbDriver*> allDrivers = drivers_;
        links_.clear();
        drivers_.clear();
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (here[i]) {
                links_.push_back(all[i]);
                drivers_.push_back(allDrivers[i]);
            }
        }
        const int status = links_.empty() ? kExitSuccess : all.size() == 1 ? RunSingle() : RunGang();
        links_ = all;
        drivers_ = allDrivers;
        return status;
    }

    BoxReport MakeReport(std::size_t box, bool prefixed) {
        BoxReport report;
        report.link = links_[box];
        report.usbDriver = drivers_[box];
        if (station_.json) {
            auto json = std::make_unique<JsonLinesStatusList>(json_, nullptr, prefixed ? report.link : std::string());
            json->SetTrace(trace_.Fields());
            report.out = std::move(json);
        } else if (prefixed) {
            report.out = gang_->BoxList(box);
        } else {
            report.out = std::make_unique<ConsoleStatusList>(stdout, stderr, !request_.quiet);
        }
        report.top = report.out.get();
        if (!station_.logFile.empty()) {
            report.record = std::make_unique<SessionRecordBuilder>(report.link, request_.file, report.out.get());
            report.record->Trace() = trace_.Fields();  // also in a record of a download that never begins
            report.top = &report.record->Status();
        }
        return report;
    }

    SessionOptions OptionsFor(std::size_t box, BoxReport& report) const {
        SessionOptions options;
        options.usbDriver = drivers_[box];
        options.answerTimeoutMs = static_cast<std::uint32_t>(request_.timeoutSeconds * 1000.0 + 0.5);
        options.cancelRequested = request_.cancelRequested;
        options.openFailed = [&report](const OpenFailure& failure) { report.openFailure = failure; };
        options.sourceRefused = RecordTypeHint(request_.file, stderr);
        return report.record ? report.record->Hooked(std::move(options)) : options;
    }

    // The result as JSON, and the record in the log.
    void Finish(BoxReport& report, DownloadOutcome outcome, double seconds, const std::string& digest) {
        if (station_.json) {
            static_cast<JsonLinesStatusList&>(*report.out).Result(outcome, ExitStatusOf(outcome), digest, seconds);
        }
        if (report.record) {
            UsbDriver& listing = report.usbDriver != nullptr ? *report.usbDriver : Usb();
            trace_.Write(report.record->Finish(outcome, seconds, listing));
        }
    }

    void Start(BoxReport& report) {
        trace_.Started(report.link, request_.file,
                       station_.json ? &static_cast<JsonLinesStatusList&>(*report.out) : nullptr, report.record.get());
    }

    int RunSingle() {
        BoxReport report = MakeReport(0, false);
        std::string digest;
        SessionOptions options = OptionsFor(0, report);
        if (station_.json) {
            options.imageReady = [&digest, passOn = std::move(options.imageReady)](
                                     const std::uint8_t* bytes, std::uint32_t length, std::uint8_t kind) {
                digest = Sha256Hex(bytes, length);
                if (passOn) {
                    passOn(bytes, length, kind);
                }
            };
        }
        Start(report);
        const auto start = Clock::now();
        const DownloadOutcome outcome = RunDownload(links_[0], request_.file, *report.top, options);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (report.openFailure) {
            const OpenFailure& failure = *report.openFailure;
            if (failure.error != 0) {
                const std::string& what = failure.target == OpenFailure::Target::SourceFile ? request_.file : links_[0];
                std::fprintf(stderr, "kestrel-flash: %s: %s\n", what.c_str(), std::strerror(failure.error));
            }
            // An emulated box's refusal is the scenario's, not this machine's: no advice for it.
            if (failure.target != OpenFailure::Target::Usb ||
                (report.usbDriver == nullptr && request_.usbDriver == nullptr)) {
                PrintHint(DescribeOpenFailure(failure, HintReader::CommandLine));
            }
        }
        Finish(report, outcome, seconds, digest);
        return ExitStatusOf(outcome);
    }

    int RunGang() {
        gang_ = std::make_unique<GangConsole>(stdout, stderr, !request_.quiet, links_);
        std::vector<BoxReport> reports;
        for (std::size_t i = 0; i < links_.size(); ++i) {
            reports.push_back(MakeReport(i, true));
        }
        // Read and built once for all the boxes; its lines carry no port, and
        // every box's record keeps them.
        std::unique_ptr<StatusList> preparation;
        if (station_.json) {
            auto json = std::make_unique<JsonLinesStatusList>(json_, nullptr);
            json->SetTrace(trace_.Fields());
            preparation = std::move(json);
        } else {
            preparation = std::make_unique<ConsoleStatusList>(stdout, stderr, false);
        }
        SessionLogRecorder prepared(preparation.get());
        GangImage image;
        SessionOptions reading;
        int openError = 0;
        reading.openFailed = [&openError](const OpenFailure& failure) { openError = failure.error; };
        reading.sourceRefused = RecordTypeHint(request_.file, stderr);
        const DownloadOutcome outcome = PrepareGangImage(request_.file, prepared, image, reading);
        if (openError != 0) {
            std::fprintf(stderr, "kestrel-flash: %s: %s\n", request_.file.c_str(), std::strerror(openError));
        }
        for (auto& report : reports) {
            if (report.record) {
                report.record->NoteEarlierLines(prepared.Lines());
            }
        }
        if (outcome != DownloadOutcome::Success) {
            if (station_.json) {
                static_cast<JsonLinesStatusList&>(*preparation).Result(outcome, ExitStatusOf(outcome), "", 0);
            }
            // No box was touched, yet each had its download refused: the log says so for each.
            for (auto& report : reports) {
                if (report.record) {
                    trace_.Write(report.record->Finish(outcome, 0, report.usbDriver ? *report.usbDriver : Usb()));
                }
            }
            return ExitStatusOf(outcome);
        }

        std::vector<GangBox> boxes;
        for (std::size_t i = 0; i < links_.size(); ++i) {
            GangBox box;
            box.linkName = links_[i];
            box.status = reports[i].top;
            box.options = OptionsFor(i, reports[i]);
            if (reports[i].record) {
                reports[i].record->NoteImage(static_cast<std::uint32_t>(image.bytes.size()), image.sourceKind,
                                             image.sha256);
            }
            Start(reports[i]);
            boxes.push_back(std::move(box));
        }
        const auto results = RunGangDownload(image, boxes);
        gang_->EndProgress();  // before the summary

        int status = kExitSuccess;
        for (std::size_t i = 0; i < results.size(); ++i) {
            const auto& result = results[i];
            Finish(reports[i], result.outcome, result.seconds, image.sha256);
            status = FirstFailure(status, ExitStatusOf(result.outcome));
            if (result.outcome == DownloadOutcome::Success) {
                std::fprintf(stderr, "kestrel-flash: %s: flashed in %.2f s\n", result.linkName.c_str(), result.seconds);
            } else {
                const auto& failure = reports[i].openFailure;
                const int why = failure ? failure->error : 0;
                std::fprintf(stderr, "kestrel-flash: %s: FAILED (%s) after %.2f s: %s%s%s%s\n", result.linkName.c_str(),
                             OutcomeName(result.outcome), result.seconds, result.lastError.c_str(),
                             why != 0 ? " (" : "", why != 0 ? std::strerror(why) : "", why != 0 ? ")" : "");
                if (failure && failure->target == OpenFailure::Target::SerialPort) {
                    PrintHint(DescribeOpenFailure(*failure, HintReader::CommandLine));
                }
            }
        }
        return status;
    }

    const StationOptions& station_;
    const StationRequest& request_;
    std::vector<std::string> links_;
    std::vector<UsbDriver*> drivers_;
    std::vector<std::unique_ptr<EmulatedBox>> emulated_;
    std::unique_ptr<GangConsole> gang_;  // a gang's lines and progress
    StationTrace trace_;
    JsonLineWriter json_{std::cout};
};

}  // namespace

void AddStationOptions(CLI::App& app, CLI::Option* file, StationOptions& station) {
    app.add_flag("--list-ports", station.listPorts,
                 "List every serial device and USB box a download could use, then end; with --json as JSON lines");
    app.add_flag("--json", station.json,
                 "Stdout carries one JSON object per line: each status line, each progress step and the result");
    app.add_option("--log", station.logFile, "Append a started and a result record of each download to this file")
        ->type_name("FILE");
    app.add_flag("--all-usb", station.allUsb, "Flash every USB box attached, all at once (each by its serial number)");
    app.add_flag("--wait", station.wait, "Wait for each box to be attached before its download");
    app.add_option("--wait-timeout", station.waitTimeoutSeconds, "Seconds --wait waits at most; 0: no bound")
        ->check(CLI::Range(0.0, 86400.0))
        ->needs("--wait");
    app.add_option("--repeat", station.repeat,
                   "Downloads one after another; with --wait each next round waits for the boxes to be "
                   "removed and attached again; 0: until interrupted")
        ->check(CLI::Range(0, 1000000));
    // -p given again adds a box; each -p takes one name, so FILE after it stays FILE.
    app.get_option("--port")->allow_extra_args(false);
    // FILE is needed for everything but the port list.
    file->required(false);
    app.parse_complete_callback([file, &station] {
        if (!station.listPorts && station.verifyLog.empty() && station.report.empty() && file->count() == 0) {
            throw CLI::RequiredError(file->get_name());
        }
        if (station.listPorts && file->count() != 0) {
            throw CLI::ExcludesError(file->get_name(), "--list-ports");
        }
    });
}

int RunStation(const StationOptions& station, const StationRequest& request) {
    // Before any box is touched: a download whose record cannot be kept is not begun.
    if (!station.logFile.empty()) {
        if (const int error = CheckSessionLog(station.logFile); error != 0) {
            std::fprintf(stderr, "kestrel-flash: cannot write the log %s: %s\n", station.logFile.c_str(),
                         std::strerror(error));
            return kExitUsage;
        }
    }
    if (request.emulate.empty()) {
        if (const std::string twice = PortGivenTwice(
                station.ports, request.usbDriver ? *request.usbDriver : SystemUsbDriver(), request.systemRoot);
            !twice.empty()) {
            std::fprintf(stderr, "kestrel-flash: %s\n", twice.c_str());
            return kExitUsage;
        }
    }
    TraceFields trace;
    trace.operatorName = station.operatorName;
    trace.station = station.stationName;
    trace.lot = station.lot;
    if (const int refused = CheckApproval(station, request.file, trace); refused != kExitSuccess) {
        return refused;
    }
    StationRunner runner(station, request, trace);
    return runner.Run();
}

}  // namespace kestrel::cli
