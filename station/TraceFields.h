#pragma once

#include <string>

namespace kestrel {

// The version of the log record's and the JSON event's layout. A reader that
// meets a newer one knows its fields may have changed; 1 was the layout before
// records carried it, 2 the layout before a box's own serial number, unit data
// and label (its records still read and verify).
inline constexpr int kRecordSchema = 3;

// Who flashed, where and for what, carried by every record and JSON event so
// that a quality engineer can trace a box back to its run.
struct TraceFields {
    std::string operatorName{};
    std::string station{};
    std::string lot{};
    std::string manifest{};        // the approved-firmware manifest the file was found in; empty: none asked for
    std::string approvedSha256{};  // the file's own SHA-256 as the manifest lists it
    int attempt = 0;               // the try of this box within its lot, from 1; 0: not about one box
    std::string firmwareSha256{};  // the firmware file's own SHA-256, of the lot's one read; empty: not read
    // What this box received of its own, and the label on its case; empty: none.
    std::string serial{};
    std::string unit{};  // its row of unit data and the row's line
    std::string label{};
    bool rework = false;  // its label passed before, and it was flashed again on purpose
};

}  // namespace kestrel
