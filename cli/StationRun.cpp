#include "cli/StationRun.h"

#include <algorithm>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/ConsoleStatusList.h"
#include "cli/EmulatedBox.h"
#include "cli/UsbHint.h"
#include "session/ExitStatus.h"
#include "session/LinkNames.h"
#include "session/SourceKind.h"
#include "session/Version.h"
#include "station/GangDownload.h"
#include "station/JsonLines.h"
#include "station/PortListing.h"
#include "station/RecordedDownload.h"
#include "station/SessionLog.h"
#include "station/Sha256.h"

namespace kestrel::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A gang's lines on stdout, each led by its box's port, whole lines at a time.
class PrefixedStatusList : public StatusList {
public:
    PrefixedStatusList(std::mutex& mutex, std::string port) : mutex_(mutex), port_(std::move(port)) {}
    void AppendStatus(const std::string& line) override {
        std::lock_guard lock(mutex_);
        std::fprintf(stdout, "%s: %s\n", port_.c_str(), line.c_str());
        std::fflush(stdout);
    }
    void Clear() override {}

private:
    std::mutex& mutex_;
    std::string port_;
};

// One box of a round: its link, its driver and the lists its lines pass through.
struct BoxReport {
    std::string link;
    UsbDriver* usbDriver = nullptr;
    std::unique_ptr<StatusList> out;               // stdout: plain, prefixed or JSON
    std::unique_ptr<SessionRecordBuilder> record;  // with --log
    StatusList* top = nullptr;                     // what the session reports to
    int openError = 0;                             // why the port or the file did not open
};

// Sleeps in steps until `ready` holds, the bound passes or the user cancels.
bool WaitUntil(const std::function<bool()>& ready, double boundSeconds, const StationRequest& request) {
    const auto start = Clock::now();
    while (!ready()) {
        if (request.cancelRequested && request.cancelRequested()) {
            return false;
        }
        if (boundSeconds > 0 && std::chrono::duration<double>(Clock::now() - start).count() > boundSeconds) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
}

class StationRunner {
public:
    StationRunner(const StationOptions& station, const StationRequest& request)
        : station_(station), request_(request) {}

    // An exit status of the downloads; a record lost from the log turns a success into a failure.
    int Run() {
        const int status = RunRounds();
        return status == kExitSuccess && logFailed_ ? kExitOutput : status;
    }

private:
    int RunRounds() {
        if (!SetUpBoxes()) {
            return kExitLink;
        }
        int status = kExitSuccess;
        for (int round = 1; station_.repeat == 0 || round <= station_.repeat; ++round) {
            // --all-usb takes the boxes attached now, so a station can swap in new ones.
            const bool ready = ListsAllUsb() ? FindAllUsb() : !station_.wait || WaitForBoxes(true);
            if (!ready) {
                return FirstFailure(status, Cancelled() ? kExitCancelled : kExitLink);
            }
            const int roundStatus = links_.size() == 1 ? RunSingle() : RunGang();
            status = FirstFailure(status, roundStatus);
            if (roundStatus == kExitCancelled || Cancelled()) {
                return FirstFailure(status, kExitCancelled);
            }
            const bool more = station_.repeat == 0 || round < station_.repeat;
            // The next round is for the next boxes: the flashed ones go first.
            if (more && station_.wait && request_.emulate.empty() && !WaitForBoxes(false)) {
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
            for (std::size_t i = 0; i < count; ++i) {
                auto box = std::make_unique<EmulatedBox>(*emulator::FindScenario(request_.emulate), request_.file);
                if (!box->Start()) {
                    std::fprintf(stderr, "kestrel-flash: cannot start the emulated box: %s\n", box->Error().c_str());
                    return false;
                }
                links_.push_back(box->LinkName());
                drivers_.push_back(box->Driver());
                if (!request_.quiet) {
                    std::fprintf(stderr, "kestrel-flash: emulated box (%s) on %s\n", request_.emulate.c_str(),
                                 links_.back().c_str());
                }
                emulated_.push_back(std::move(box));
            }
            return true;
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
        if (!(station_.wait ? WaitUntil(found, station_.waitTimeoutSeconds, request_) : found())) {
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

    bool WaitForBoxes(bool present) {
        for (std::size_t i = 0; i < links_.size(); ++i) {
            if (!request_.quiet) {
                std::fprintf(stderr, "kestrel-flash: waiting for %s to be %s\n", links_[i].c_str(),
                             present ? "attached" : "removed");
            }
            const auto ready = [&] { return LinkPresent(links_[i], DriverFor(i)) == present; };
            if (!WaitUntil(ready, station_.waitTimeoutSeconds, request_)) {
                std::fprintf(stderr, "kestrel-flash: %s: %s\n", links_[i].c_str(),
                             Cancelled() ? "cancelled" : "not there in time");
                return false;
            }
        }
        return true;
    }

    BoxReport MakeReport(std::size_t box, bool prefixed) {
        BoxReport report;
        report.link = links_[box];
        report.usbDriver = drivers_[box];
        if (station_.json) {
            report.out = std::make_unique<JsonLinesStatusList>(json_, nullptr, prefixed ? report.link : std::string());
        } else if (prefixed) {
            report.out = std::make_unique<PrefixedStatusList>(stdoutMutex_, report.link);
        } else {
            report.out = std::make_unique<ConsoleStatusList>(stdout, stderr, !request_.quiet);
        }
        report.top = report.out.get();
        if (!station_.logFile.empty()) {
            report.record = std::make_unique<SessionRecordBuilder>(report.link, request_.file, report.out.get());
            report.top = &report.record->Status();
        }
        return report;
    }

    SessionOptions OptionsFor(std::size_t box, BoxReport& report) const {
        SessionOptions options;
        options.usbDriver = drivers_[box];
        options.answerTimeoutMs = static_cast<std::uint32_t>(request_.timeoutSeconds * 1000.0 + 0.5);
        options.cancelRequested = request_.cancelRequested;
        options.openFailed = [&report](int error) { report.openError = error; };
        return report.record ? report.record->Hooked(std::move(options)) : options;
    }

    // The result as JSON, and the record in the log.
    void Finish(BoxReport& report, DownloadOutcome outcome, double seconds, const std::string& digest) {
        if (station_.json) {
            static_cast<JsonLinesStatusList&>(*report.out).Result(outcome, ExitStatusOf(outcome), digest, seconds);
        }
        if (report.record) {
            UsbDriver& listing = report.usbDriver != nullptr ? *report.usbDriver : Usb();
            WriteRecord(report.record->Finish(outcome, seconds, listing));
        }
    }

    void WriteRecord(const SessionRecord& record) {
        if (const int error = AppendSessionRecord(station_.logFile, record); error != 0) {
            std::fprintf(stderr, "kestrel-flash: cannot write the log %s: %s\n", station_.logFile.c_str(),
                         std::strerror(error));
            logFailed_ = true;
        }
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
        const auto start = Clock::now();
        const DownloadOutcome outcome = RunDownload(links_[0], request_.file, *report.top, options);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (report.openError != 0) {
            const std::string& what = outcome == DownloadOutcome::FileFailed ? request_.file : links_[0];
            std::fprintf(stderr, "kestrel-flash: %s: %s\n", what.c_str(), std::strerror(report.openError));
        }
        if (outcome == DownloadOutcome::LinkFailed && report.usbDriver == nullptr && request_.usbDriver == nullptr) {
            PrintUsbHint(links_[0], stderr);
        }
        Finish(report, outcome, seconds, digest);
        return ExitStatusOf(outcome);
    }

    int RunGang() {
        std::vector<BoxReport> reports;
        for (std::size_t i = 0; i < links_.size(); ++i) {
            reports.push_back(MakeReport(i, true));
        }
        // Read and built once for all the boxes; its lines carry no port, and
        // every box's record keeps them.
        std::unique_ptr<StatusList> preparation;
        if (station_.json) {
            preparation = std::make_unique<JsonLinesStatusList>(json_, nullptr);
        } else {
            preparation = std::make_unique<ConsoleStatusList>(stdout, stderr, false);
        }
        SessionLogRecorder prepared(preparation.get());
        GangImage image;
        SessionOptions reading;
        int openError = 0;
        reading.openFailed = [&openError](int error) { openError = error; };
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
                    WriteRecord(report.record->Finish(outcome, 0, report.usbDriver ? *report.usbDriver : Usb()));
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
            boxes.push_back(std::move(box));
        }
        const auto results = RunGangDownload(image, boxes);

        int status = kExitSuccess;
        for (std::size_t i = 0; i < results.size(); ++i) {
            const auto& result = results[i];
            Finish(reports[i], result.outcome, result.seconds, image.sha256);
            status = FirstFailure(status, ExitStatusOf(result.outcome));
            if (result.outcome == DownloadOutcome::Success) {
                std::fprintf(stderr, "kestrel-flash: %s: flashed in %.2f s\n", result.linkName.c_str(), result.seconds);
            } else {
                const int why = reports[i].openError;
                std::fprintf(stderr, "kestrel-flash: %s: FAILED (%s) after %.2f s: %s%s%s%s\n", result.linkName.c_str(),
                             OutcomeName(result.outcome), result.seconds, result.lastError.c_str(),
                             why != 0 ? " (" : "", why != 0 ? std::strerror(why) : "", why != 0 ? ")" : "");
            }
        }
        return status;
    }

    const StationOptions& station_;
    const StationRequest& request_;
    std::vector<std::string> links_;
    std::vector<UsbDriver*> drivers_;
    std::vector<std::unique_ptr<EmulatedBox>> emulated_;
    std::mutex stdoutMutex_;
    bool logFailed_ = false;  // a record could not be written
    JsonLineWriter json_{std::cout};
};

}  // namespace

void AddStationOptions(CLI::App& app, CLI::Option* file, StationOptions& station) {
    app.add_flag("--list-ports", station.listPorts,
                 "List every serial device and USB box a download could use, then end; with --json as JSON lines");
    app.add_flag("--json", station.json,
                 "Stdout carries one JSON object per line: each status line, each progress step and the result");
    app.add_option("--log", station.logFile, "Append a record of each download to this file")->type_name("FILE");
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
        if (!station.listPorts && file->count() == 0) {
            throw CLI::RequiredError(file->get_name());
        }
        if (station.listPorts && file->count() != 0) {
            throw CLI::ExcludesError(file->get_name(), "--list-ports");
        }
    });
}

int ListPortsCommand(const StationOptions& station) {
    const auto ports = ListPorts("/", &SystemUsbDriver());
    for (const auto& text : station.json ? PortListJson(ports) : PortListText(ports)) {
        std::fprintf(stdout, "%s\n", text.c_str());
    }
    return kExitSuccess;
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
    StationRunner runner(station, request);
    return runner.Run();
}

}  // namespace kestrel::cli
