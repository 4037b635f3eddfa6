// A gang's download: the image read and built once, every box flashed at
// once, and the summary of each box on stderr.
#include <cstdio>
#include <cstring>

#include "cli/ConsoleStatusList.h"
#include "cli/SourceHints.h"
#include "cli/StationRunner.h"
#include "session/SourceFile.h"
#include "station/GangDownload.h"
#include "station/Sha256.h"

namespace kestrel::cli {

int StationRunner::RunGang() {
    gang_ = std::make_unique<GangConsole>(stdout, stderr, !request_.quiet, links_);
    std::vector<BoxReport> reports;
    for (std::size_t i = 0; i < links_.size(); ++i) {
        reports.push_back(MakeReport(i, true));
    }
    // Read and built once for the whole run; its lines carry no port, and
    // every box's record keeps them.
    std::unique_ptr<StatusList> preparation;
    JsonLinesStatusList* preparationJson = nullptr;
    if (station_.json) {
        auto json = std::make_unique<JsonLinesStatusList>(json_, nullptr);
        json->SetTrace(lot_.records->Fields());
        preparationJson = json.get();
        preparation = std::move(json);
    } else {
        preparation = std::make_unique<ConsoleStatusList>(stdout, stderr, false);
    }
    for (const auto& line : lot_.lines) {
        preparation->AppendStatus(line.text);
    }
    if (lot_.openError != 0) {
        std::fprintf(stderr, "kestrel-flash: %s: %s\n", request_.file.c_str(), FileErrorText(lot_.openError).c_str());
    }
    if (lot_.refused) {
        RecordTypeHint(request_.file, stderr)(*lot_.refused);
    }
    for (auto& report : reports) {
        report.record->NoteEarlierLines(lot_.lines);
    }
    const GangImage& image = lot_.image;
    if (lot_.built != DownloadOutcome::Success) {
        if (preparationJson != nullptr) {
            preparationJson->Result(lot_.built, ExitStatusOf(lot_.built), "", 0);
        }
        // No box was touched, yet each had its download refused: the records say so for each.
        int status = ExitStatusOf(lot_.built);
        for (auto& report : reports) {
            std::string why;
            if (lot_.records->Ended(report.record->Finish(lot_.built, 0, DriverOf(report)), why) != kExitSuccess) {
                std::fprintf(stderr, "kestrel-flash: %s\n", why.c_str());
            }
        }
        return status;
    }

    // A box whose started record could not be kept is not flashed; the others are.
    std::vector<GangBox> boxes;
    std::vector<std::size_t> flashed;
    int status = kExitSuccess;
    std::vector<std::string> digests(links_.size(), image.sha256);
    if (units_ != nullptr) {
        // The gang's numbers in one write to the disk, not one a box: they begin together.
        std::vector<BoxUnit> units(links_.size());
        std::string why;
        if (const int refused = units_->Take(units, why); refused != kExitSuccess) {
            std::fprintf(stderr, "kestrel-flash: %s\n", why.c_str());
            for (auto& report : reports) {
                std::string lost;
                if (lot_.records->Ended(report.record->Finish(DownloadOutcome::DataFailed, 0, DriverOf(report)),
                                        lost) != kExitSuccess) {
                    std::fprintf(stderr, "kestrel-flash: %s\n", lost.c_str());
                }
            }
            return refused;
        }
        for (std::size_t i = 0; i < links_.size(); ++i) {
            reports[i].unit = std::move(units[i]);
        }
    }
    for (std::size_t i = 0; i < links_.size(); ++i) {
        reports[i].record->NoteImage(static_cast<std::uint32_t>(image.bytes.size()), image.sourceKind, image.sha256);
        if (const int refused = Start(reports[i]); refused != kExitSuccess) {
            status = FirstFailure(status, refused);
            continue;
        }
        GangBox box;
        box.linkName = links_[i];
        box.status = reports[i].top;
        box.options = OptionsFor(i, reports[i]);
        if (units_ != nullptr) {
            // Its own copy, its number written in: the read-back checks what this box was sent.
            box.ownImage = image.bytes;
            units_->Personalise(reports[i].unit, box.ownImage.data(), static_cast<std::uint32_t>(box.ownImage.size()));
            digests[i] = Sha256Hex(box.ownImage.data(), box.ownImage.size());
            reports[i].record->NoteImage(static_cast<std::uint32_t>(box.ownImage.size()), image.sourceKind, digests[i]);
        }
        boxes.push_back(std::move(box));
        flashed.push_back(i);
    }
    const auto results = RunGangDownload(image, boxes);
    gang_->EndProgress();  // before the summary

    for (std::size_t n = 0; n < results.size(); ++n) {
        const auto& result = results[n];
        const std::size_t i = flashed[n];
        status = FirstFailure(status, Finish(reports[i], result.outcome, result.seconds, digests[i]));
        if (result.outcome == DownloadOutcome::Success) {
            std::fprintf(stderr, "kestrel-flash: %s: flashed in %.2f s\n", result.linkName.c_str(), result.seconds);
        } else {
            const auto& failure = reports[i].openFailure;
            const int why = failure ? failure->error : 0;
            std::fprintf(stderr, "kestrel-flash: %s: FAILED (%s) after %.2f s: %s%s%s%s\n", result.linkName.c_str(),
                         OutcomeName(result.outcome), result.seconds, result.lastError.c_str(), why != 0 ? " (" : "",
                         why != 0 ? std::strerror(why) : "", why != 0 ? ")" : "");
            if (failure && failure->target == OpenFailure::Target::SerialPort) {
                PrintOpenHint(*failure);
            }
        }
    }
    return status;
}

}  // namespace kestrel::cli
