#include "readers/SRecordCheck.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

#include "readers/ExtractDataMOT.h"

namespace kestrel {

namespace {

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

struct DataRange {
    std::uint32_t start;
    std::uint32_t end;  // one past the last byte
    std::uint32_t line;
};

// One line's bytes after the type: count, address, data, checksum. Empty when
// the line is not well-formed hex of the length its count demands.
std::optional<std::vector<std::uint8_t>> LineBytes(std::string_view line) {
    if (line.size() < 4 || (line.size() - 2) % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 2; i + 1 < line.size(); i += 2) {
        if (!IsHexDigit(line[i]) || !IsHexDigit(line[i + 1])) {
            return std::nullopt;
        }
        bytes.push_back(hexPairToByte(line[i], line[i + 1]));
    }
    if (bytes.size() != static_cast<std::size_t>(bytes[0]) + 1) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

std::vector<SRecordFinding> CheckSRecords(const std::uint8_t* source, std::uint32_t sourceLength) {
    std::vector<SRecordFinding> findings;
    std::vector<DataRange> ranges;
    const std::string_view text(reinterpret_cast<const char*>(source), sourceLength);

    std::uint32_t lineNumber = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t end = text.find('\n', position);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(position, end - position);
        position = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.size() < 2 || line[0] != 'S') {
            continue;
        }
        const char type = line[1];
        const auto bytes = LineBytes(line);
        if (!bytes) {
            if (type == '0' || type == '2' || type == '5' || type == '8') {
                findings.push_back({lineNumber, "record does not match its byte count"});
            }
            continue;
        }
        unsigned sum = 0;
        for (std::size_t i = 0; i + 1 < bytes->size(); ++i) {
            sum += (*bytes)[i];
        }
        const std::uint8_t expected = static_cast<std::uint8_t>(~sum);
        if (bytes->back() != expected) {
            findings.push_back(
                {lineNumber, "checksum " + Hex(bytes->back(), 2) + ", the record's bytes give " + Hex(expected, 2)});
        }
        if (type == '2' && bytes->size() >= 5) {
            const std::uint32_t address =
                (std::uint32_t{(*bytes)[1]} << 16) | (std::uint32_t{(*bytes)[2]} << 8) | (*bytes)[3];
            const auto length = static_cast<std::uint32_t>(bytes->size() - 5);
            if (length > 0) {
                ranges.push_back({address, address + length, lineNumber});
            }
        } else if (type == '5' && bytes->size() >= 3) {
            // The count fills the address field, two bytes or three as writers choose.
            std::uint32_t count = 0;
            for (std::size_t i = 1; i + 1 < bytes->size(); ++i) {
                count = (count << 8) | (*bytes)[i];
            }
            if (count != ranges.size()) {
                findings.push_back({lineNumber, "S5 counts " + std::to_string(count) + " data records, the file has " +
                                                    std::to_string(ranges.size())});
            }
        } else if (type == '8') {
            break;  // the reader stops here too
        }
    }

    // Overlaps: each record against the furthest end of the records below it.
    std::vector<DataRange> sorted = ranges;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const DataRange& a, const DataRange& b) { return a.start < b.start; });
    std::optional<DataRange> furthest;
    for (const DataRange& range : sorted) {
        if (furthest && range.start < furthest->end) {
            const DataRange& later = range.line > furthest->line ? range : *furthest;
            const DataRange& earlier = range.line > furthest->line ? *furthest : range;
            findings.push_back({later.line, "data at " + Hex(std::max(range.start, furthest->start), 5) +
                                                " overlaps the record of line " + std::to_string(earlier.line) +
                                                "; the later one wins"});
        }
        if (!furthest || range.end > furthest->end) {
            furthest = range;
        }
    }
    std::stable_sort(findings.begin(), findings.end(),
                     [](const SRecordFinding& a, const SRecordFinding& b) { return a.line < b.line; });
    return findings;
}

}  // namespace kestrel
