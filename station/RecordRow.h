#pragma once

#include <optional>
#include <string>

#include "station/LogChain.h"

namespace kestrel {

// A log record taken apart into the columns the database indexes, beside the
// whole record as JSON. A value the record does not carry is null.
struct RecordRow {
    std::string sha256, prev;
    std::string kind;  // "started" or "result"
    std::string time;  // the download's start, as the head line gives it (UTC, ISO 8601)
    std::optional<std::string> station, operatorName, lot, port, box, serial, label;
    std::optional<std::string> attempt;  // as decimal text, as the server takes parameters
    std::optional<std::string> firmwareSha256, imageSha256;
    std::optional<std::string> outcome, exitStatus, seconds, stage;
    std::string json;
};

// The row of `record`; nothing for text that is no whole record of the chained layout.
std::optional<RecordRow> MakeRecordRow(const LogRecordText& record);

// A label as its row holds it: as the log writes it, in UTF-8.
std::string StoredLabel(const std::string& label);

}  // namespace kestrel
