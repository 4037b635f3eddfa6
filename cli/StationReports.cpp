// A box's report: the lists its lines pass through, its JSON result and its
// record; and the download of a single box, with what stderr says of it.
#include <cstdio>
#include <cstring>

#include "cli/ConsoleStatusList.h"
#include "cli/SourceHints.h"
#include "cli/StationRunner.h"
#include "session/DownloadWorkflow.h"
#include "session/SourceFile.h"
#include "station/OpenFailureHint.h"
#include "station/PortListing.h"
#include "station/Sha256.h"

namespace kestrel::cli {

void PrintOpenHint(const OpenFailure& failure) {
    const OpenFailureFacts facts = FactsOf(failure);
    // The system's reason had a line of its own; another port is chosen with -p.
    std::string hint = DescribeOpenFailure(facts, false);
    if (facts.driverMissing && !hint.empty()) {
        hint += " with -p COMn";
    }
    if (!hint.empty()) {
        std::fprintf(stderr, "kestrel-flash: %s\n", hint.c_str());
    }
}

BoxReport StationRunner::MakeReport(std::size_t box, bool prefixed) {
    BoxReport report;
    report.link = links_[box];
    report.usbDriver = drivers_[box];
    if (station_.json) {
        auto json = std::make_unique<JsonLinesStatusList>(json_, nullptr, prefixed ? report.link : std::string());
        json->SetTrace(lot_.records->Fields());
        report.json = json.get();
        report.out = std::move(json);
    } else if (prefixed) {
        report.out = gang_->BoxList(box);
    } else {
        report.out = std::make_unique<ConsoleStatusList>(stdout, stderr, !request_.quiet);
    }
    report.record = std::make_unique<SessionRecordBuilder>(report.link, request_.file, report.out.get());
    report.record->Trace() = lot_.records->Fields();  // also in a record of a download that never begins
    report.top = &report.record->Status();
    return report;
}

SessionOptions StationRunner::OptionsFor(std::size_t box, BoxReport& report) const {
    SessionOptions options;
    options.usbDriver = drivers_[box];
    options.answerTimeoutMs = static_cast<std::uint32_t>(request_.timeoutSeconds * 1000.0 + 0.5);
    options.cancelRequested = request_.cancelRequested;
    options.openFailed = [&report](const OpenFailure& failure) { report.openFailure = failure; };
    options.sourceRefused = RecordTypeHint(request_.file, stderr);
    options.source = lot_.source;  // what every round flashes is what was read and approved
    if (units_ != nullptr) {
        options.personalise = [this, &report](std::uint8_t* image, std::uint32_t length) {
            units_->Personalise(report.unit, image, length);
        };
    }
    return report.record->Hooked(std::move(options));
}

const char* StationRunner::RefusalOutcome(int status) {
    switch (status) {
        case kExitCancelled:
            return "cancelled";
        case kExitLabelPassed:
            return "label-passed";
        case kExitData:
            return "no-unit";
        default:
            return "record-lost";
    }
}

int StationRunner::Start(BoxReport& report) {
    std::string why;
    // In this order: a label refused takes no number, and the started record carries what the box took.
    TraceFields& trace = report.record->Trace();
    trace.label = station_.label;
    trace.rework = station_.rework;
    int refused = lot_.records->CheckLabel(station_.label, station_.rework, why);
    if (refused == kExitSuccess && units_ != nullptr && !report.unit.Taken()) {
        refused = units_->Take(report.unit, why);
    }
    trace.serial = report.unit.Serial();
    trace.unit = report.unit.Unit();
    if (refused == kExitSuccess) {
        const std::string usb = BoxSerialOf(report.link, DriverOf(report), request_.systemRoot);
        // Without a USB serial number the box is known by its label, else by the number it took.
        const std::string box = !usb.empty() ? usb : !station_.label.empty() ? station_.label : trace.serial;
        refused = lot_.records->Started(*report.record, box, why);
    }
    if (JsonLinesStatusList* json = report.json) {
        json->SetTrace(report.record->Trace());
        json->Started(request_.file);
    }
    if (refused != kExitSuccess) {
        std::fprintf(stderr, "kestrel-flash: %s: %s\n", report.link.c_str(), why.c_str());
        if (JsonLinesStatusList* json = report.json) {
            json->Result(RefusalOutcome(refused), refused, "", 0);
        }
    }
    return refused;
}

int StationRunner::Finish(BoxReport& report, DownloadOutcome outcome, double seconds, const std::string& digest) {
    int status = ExitStatusOf(outcome);
    std::string why;
    if (lot_.records->Ended(report.record->Finish(outcome, seconds, DriverOf(report)), why) != kExitSuccess) {
        std::fprintf(stderr, "kestrel-flash: %s\n", why.c_str());
        status = status == kExitSuccess ? kExitOutput : status;
    }
    if (JsonLinesStatusList* json = report.json) {
        json->Result(outcome, status, digest, seconds);
    }
    return status;
}

void StationRunner::NoteChangedFile() {
    if (const std::string notice = lot_.ChangeNotice(); !notice.empty()) {
        std::fprintf(stderr, "kestrel-flash: %s\n", notice.c_str());
    }
}

int StationRunner::RunSingle() {
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
    if (const int refused = Start(report); refused != kExitSuccess) {
        return refused;
    }
    Clock& clock = options.TimeBase();
    const std::uint32_t startMs = clock.TickMs();
    const DownloadOutcome outcome = RunDownload(links_[0], request_.file, *report.top, options);
    const double seconds = (clock.TickMs() - startMs) / 1000.0;
    if (report.openFailure) {
        const OpenFailure& failure = *report.openFailure;
        if (failure.error != 0) {
            const bool file = failure.target == OpenFailure::Target::SourceFile;
            std::fprintf(stderr, "kestrel-flash: %s: %s\n", (file ? request_.file : links_[0]).c_str(),
                         file ? FileErrorText(failure.error).c_str() : std::strerror(failure.error));
        }
        // An emulated box's refusal is the scenario's, not this machine's: no advice for it.
        if (failure.target != OpenFailure::Target::Usb ||
            (report.usbDriver == nullptr && request_.usbDriver == nullptr)) {
            PrintOpenHint(failure);
        }
    }
    return Finish(report, outcome, seconds, digest);
}

}  // namespace kestrel::cli
