#include "station/RecordRow.h"

#include <cstdio>
#include <cstdlib>

#include "station/JsonLines.h"
#include "station/SessionLog.h"
#include "station/YieldReport.h"

namespace kestrel {

namespace {

// The server keeps text as UTF-8: a byte that is not (a name in another encoding) is taken as Latin-1, as
// the JSON lines take it, rather than refused with its whole batch.
std::string Utf8Text(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte < 0x80           ? 1
                                   : (byte >> 5) == 0x6  ? 2
                                   : (byte >> 4) == 0xE  ? 3
                                   : (byte >> 3) == 0x1E ? 4
                                                         : 0;
        bool whole = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; whole && k < length; ++k) {
            whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (whole) {
            out.append(text, i, length);
            i += length;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
            ++i;
        }
    }
    return out;
}

std::optional<std::string> Value(const LogRecordText& record, const std::string& key,
                                 const std::string& none = std::string()) {
    if (!record.Has(key)) {
        return std::nullopt;
    }
    std::string value = Utf8Text(record.Field(key));
    if (!none.empty() && value == none) {
        return std::nullopt;
    }
    return value;
}

// The hash after "sha256 " in "N bytes, sha256 HASH" or "sha256 HASH in MANIFEST".
std::optional<std::string> HashIn(const std::optional<std::string>& text) {
    const std::string marker = "sha256 ";
    if (!text) {
        return std::nullopt;
    }
    const std::size_t at = text->find(marker);
    if (at == std::string::npos || text->size() < at + marker.size() + 64) {
        return std::nullopt;
    }
    return text->substr(at + marker.size(), 64);
}

// Every "key: value" line of the record, its status lines as a list, in the order written.
std::string RecordJson(const LogRecordText& record) {
    std::string json = "{\"head\": " + JsonString(record.text.substr(0, record.text.find('\n')));
    std::string lines;
    for (std::size_t at = record.text.find('\n'); at != std::string::npos && at + 1 < record.text.size();) {
        const std::size_t end = record.text.find('\n', at + 1);
        const std::string line = record.text.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        at = end;
        if (line.starts_with("line +")) {
            const std::size_t blank = line.find(' ', 5);
            const std::string text = blank == std::string::npos ? "" : line.substr(blank + 1);
            lines += (lines.empty() ? "" : ", ") +
                     JsonObject()
                         .Add("at", line.substr(5, blank - 5))
                         .Add("text", text.size() >= 2 ? text.substr(1, text.size() - 2) : text)
                         .Text();
        } else if (const std::size_t colon = line.find(": "); colon != std::string::npos) {
            json += ", " + JsonString(line.substr(0, colon)) + ": " + JsonString(line.substr(colon + 2));
        }
    }
    return json + ", \"lines\": [" + lines + "]}";
}

}  // namespace

std::optional<RecordRow> MakeRecordRow(const LogRecordText& record) {
    RecordRow row;
    row.sha256 = record.Field("sha256");
    row.prev = record.Field("prev");
    row.kind = record.Field("record");
    char time[32] = {};
    if (row.sha256.size() != 64 || row.prev.size() != 64 || !record.text.ends_with("\n\n") ||
        (row.kind != "started" && row.kind != "result") || std::sscanf(record.text.c_str(), "=== %31s", time) != 1) {
        return std::nullopt;
    }
    row.time = time;
    row.station = Value(record, "station");
    row.operatorName = Value(record, "operator");
    row.lot = Value(record, "lot");
    row.port = Value(record, "port");
    row.box = Value(record, "box", "none");
    row.serial = Value(record, "serial", "none");
    row.label = Value(record, "label", "none");
    row.attempt = Value(record, "attempt");
    row.imageSha256 = HashIn(Value(record, "image", "none"));
    // The file's own hash as the run read it (schema 3), else the approved one an older record names.
    row.firmwareSha256 = HashIn(Value(record, "firmware", "none"));
    if (!row.firmwareSha256) {
        row.firmwareSha256 = HashIn(Value(record, "approved", "none"));
    }
    if (const auto result = Value(record, "result")) {
        // "OUTCOME, exit N, S s"
        const std::size_t exit = result->rfind(", exit ");
        if (exit != std::string::npos) {
            row.outcome = result->substr(0, exit);
            const long status = std::strtol(result->c_str() + exit + 7, nullptr, 10);
            row.exitStatus = std::to_string(status);
            if (const std::size_t comma = result->find(", ", exit + 7); comma != std::string::npos) {
                row.seconds = std::to_string(std::strtod(result->c_str() + comma + 2, nullptr));
            }
            if (status != 0) {
                row.stage = FailedStage(RecordStatusLines(record.text));
            }
        }
    }
    row.json = RecordJson(record);
    return row;
}

std::string StoredLabel(const std::string& label) { return Utf8Text(EscapedField(label)); }

}  // namespace kestrel
