#pragma once

#include <cstdint>
#include <string>

namespace kestrel::stationapp {

// What the top of the station window says of the firmware before a lot begins.
struct FirmwareSummary {
    std::uint64_t size = 0;
    int records = -1;  // S-records read; -1: a raw image, or unreadable
    std::string sha256;
    std::string approval;  // "approved", "NOT APPROVED", "not checked", or why the manifest failed
    std::string error;     // non-empty: the file cannot be read
};

// `manifest` empty: the approval is "not checked".
FirmwareSummary SummariseFirmware(const std::string& file, const std::string& manifest);

}  // namespace kestrel::stationapp
