#include "station-app/FirmwareSummary.h"

#include <cstring>
#include <vector>

#include "readers/ExtractDataMOT.h"
#include "session/DataConverter.h"
#include "session/SourceFile.h"
#include "station/ApprovedManifest.h"
#include "station/Sha256.h"

namespace kestrel::stationapp {

FirmwareSummary SummariseFirmware(const std::string& file, const std::string& manifest) {
    FirmwareSummary summary;
    // Read as a download reads it: anything but a regular file is refused at once (a FIFO would hold the window
    // until someone wrote to it), and no more is read than a download takes.
    constexpr std::uint32_t kLimit = DataConverter::kSourceBufferSize;
    std::vector<std::uint8_t> bytes(kLimit);
    std::uint32_t length = 0;
    int openError = 0;
    switch (ReadSourceFile(file, bytes.data(), kLimit, length, openError)) {
        case SourceFileRead::Read:
            break;
        case SourceFileRead::CannotOpen:
            summary.error = "cannot read " + file + ": " + FileErrorText(openError);
            return summary;
        case SourceFileRead::TooLarge:
            summary.error =
                file + ": more than " + std::to_string(kLimit) + " bytes, the most a firmware file may have";
            return summary;
    }
    summary.size = length;
    summary.sha256 = Sha256Hex(bytes.data(), length);
    if (length > 0 && bytes[0] == 'S') {
        RecordList records;
        ExtractDataMOT reader;
        if (reader.extract(bytes.data(), records, length) >= 0) {
            summary.records = static_cast<int>(records.size());
        }
    }
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
