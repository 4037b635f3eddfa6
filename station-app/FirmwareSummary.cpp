#include "station-app/FirmwareSummary.h"

#include "session/Limits.h"
#include "station/ApprovedManifest.h"
#include "station/PreparedLot.h"

namespace kestrel::stationapp {

FirmwareSummary SummariseFirmware(const std::string& file, const std::string& manifest) {
    FirmwareSummary summary;
    // The lot's own step, without its records: what is shown is what a lot would read, build and approve. A FIFO
    // is refused at once, and no more is read than a download takes.
    PreparedLot lot;
    PrepareLot({.firmware = file}, lot);
    switch (lot.source->result) {
        case SourceFileRead::Read:
            break;
        case SourceFileRead::CannotOpen:
            summary.error = "cannot read " + file + ": " + FileErrorText(lot.source->error);
            return summary;
        case SourceFileRead::TooLarge:
            summary.error =
                file + ": more than " + std::to_string(kSourceSizeLimit) + " bytes, the most a firmware file may have";
            return summary;
    }
    summary.size = lot.source->bytes.size();
    summary.sha256 = lot.fileSha256;
    // Its kind as a download takes it, by its name; a file the reader refuses has no count to show.
    summary.records = lot.built == DownloadOutcome::Success ? lot.image.records : -1;
    if (manifest.empty()) {
        summary.approval = "not checked";
        return summary;
    }
    ApprovedManifest approved;
    if (ReadApprovedManifest(manifest, approved)) {
        summary.approval = "manifest unreadable: " + manifest;
    } else {
        summary.approval = approved.Lists(summary.sha256) ? "approved" : "NOT APPROVED";
    }
    return summary;
}

}  // namespace kestrel::stationapp
