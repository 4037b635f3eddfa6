// A gang's download: the image read and built once, every box flashed at
// once, and the summary of each box on stderr.
#include <cstdio>
#include <cstring>

#include "cli/ConsoleStatusList.h"
#include "cli/SourceHints.h"
#include "cli/StationRunner.h"
#include "session/SourceFile.h"
#include "station/GangDownload.h"
#include "station/OpenFailureHint.h"
#include "station/SessionLog.h"

namespace kestrel::cli {

int StationRunner::RunGang() {
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
        std::fprintf(stderr, "kestrel-flash: %s: %s\n", request_.file.c_str(), FileErrorText(openError).c_str());
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
                trace_.Write(report.record->Finish(outcome, 0, DriverOf(report)));
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
                         OutcomeName(result.outcome), result.seconds, result.lastError.c_str(), why != 0 ? " (" : "",
                         why != 0 ? std::strerror(why) : "", why != 0 ? ")" : "");
            if (failure && failure->target == OpenFailure::Target::SerialPort) {
                PrintHint(DescribeOpenFailure(*failure, HintReader::CommandLine));
            }
        }
    }
    return status;
}

}  // namespace kestrel::cli
