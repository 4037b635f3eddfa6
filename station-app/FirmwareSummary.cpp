#include "station-app/FirmwareSummary.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "readers/ExtractDataMOT.h"
#include "station/ApprovedManifest.h"

namespace kestrel::stationapp {

FirmwareSummary SummariseFirmware(const std::string& file, const std::string& manifest) {
    FirmwareSummary summary;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        summary.error = "cannot read " + file;
        return summary;
    }
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    summary.size = bytes.size();
    if (!bytes.empty() && bytes[0] == 'S') {
        RecordList records;
        ExtractDataMOT reader;
        if (reader.extract(bytes.data(), records, static_cast<std::uint32_t>(bytes.size())) >= 0) {
            summary.records = static_cast<int>(records.size());
        }
    }
    if (const int error = FileSha256(file, summary.sha256); error != 0) {
        summary.error = file + ": " + std::strerror(error);
    }
    if (manifest.empty()) {
        summary.approval = "not checked";
        return summary;
    }
    ApprovedManifest approved;
    if (const ManifestError error = ReadApprovedManifest(manifest, approved)) {
        summary.approval = "manifest unreadable: " + manifest;
    } else {
        summary.approval = approved.Lists(summary.sha256) ? "approved" : "NOT APPROVED";
    }
    return summary;
}

}  // namespace kestrel::stationapp
