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
#include "station/Sha256.h"

namespace kestrel::cli {

void PrintHint(const std::string& hint) {
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

SessionOptions StationRunner::OptionsFor(std::size_t box, BoxReport& report) const {
    SessionOptions options;
    options.usbDriver = drivers_[box];
    options.answerTimeoutMs = static_cast<std::uint32_t>(request_.timeoutSeconds * 1000.0 + 0.5);
    options.cancelRequested = request_.cancelRequested;
    options.openFailed = [&report](const OpenFailure& failure) { report.openFailure = failure; };
    options.sourceRefused = RecordTypeHint(request_.file, stderr);
    return report.record ? report.record->Hooked(std::move(options)) : options;
}

void StationRunner::Finish(BoxReport& report, DownloadOutcome outcome, double seconds, const std::string& digest) {
    if (station_.json) {
        static_cast<JsonLinesStatusList&>(*report.out).Result(outcome, ExitStatusOf(outcome), digest, seconds);
    }
    if (report.record) {
        trace_.Write(report.record->Finish(outcome, seconds, DriverOf(report)));
    }
}

void StationRunner::Start(BoxReport& report) {
    trace_.Started(report.link, request_.file,
                   station_.json ? &static_cast<JsonLinesStatusList&>(*report.out) : nullptr, report.record.get());
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
    Start(report);
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
            PrintHint(DescribeOpenFailure(failure, HintReader::CommandLine));
        }
    }
    Finish(report, outcome, seconds, digest);
    return ExitStatusOf(outcome);
}

}  // namespace kestrel::cli
