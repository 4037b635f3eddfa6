#include "readers/SRecordCheck.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

#include "readers/RecordTypeAdvice.h"
#include "readers/SRecordLines.h"

namespace kestrel {

namespace {

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

struct DataRange {
    std::uint32_t start;
    std::uint32_t end;  // one past the last byte
    std::uint32_t line;
};

std::string CharacterName(char character) {
    const auto code = static_cast<unsigned char>(character);
    if (code > 0x20 && code < 0x7F) {
        return std::string("'") + character + "'";
    }
    return Hex(code, 2);
}

// What is wrong with the form of a line the reader refuses, in the user's words.
std::string FormFault(SRecordForm form, std::string_view line, const SRecordBytes& bytes) {
    switch (form) {
        case SRecordForm::NotARecord:
            return "no S-record: the line starts with " + CharacterName(line[0]);
        case SRecordForm::TooShort:
            return "record too short to hold its address and checksum";
        case SRecordForm::NotHexDigit:
            return "character " + CharacterName(line[bytes.faultColumn - 1]) + " in column " +
                   std::to_string(bytes.faultColumn) + " is no hex digit";
        default:
            return "record has " + std::to_string(line.size()) + " characters, its byte count demands " +
                   std::to_string(bytes.demandedLength);
    }
}

// Records of a type the reader refuses come in runs (a whole file of S3 lines):
// one finding for a run, and the advice once for each kind of fault.
class RefusedTypeRuns {
public:
    explicit RefusedTypeRuns(std::vector<SRecordFinding>& findings) : findings_(findings) {}

    void Add(char type, std::uint32_t line) {
        if (count_ > 0 && type == type_) {
            ++count_;
            last_ = line;
            return;
        }
        End();
        type_ = type;
        first_ = last_ = line;
        count_ = 1;
    }

    void End() {
        if (count_ == 0) {
            return;
        }
        std::string text = std::string("record type S") + type_ + " is not supported";
        if (count_ > 1) {
            text = std::to_string(count_) + " records of type S" + type_ + " (lines " + std::to_string(first_) +
                   " to " + std::to_string(last_) + ") are not supported";
        }
        const std::string advice = RecordTypeAdvice(type_);
        if (std::find(given_.begin(), given_.end(), advice) == given_.end()) {
            text += ": " + advice;
            given_.push_back(advice);
        }
        findings_.push_back({first_, text});
        count_ = 0;
    }

private:
    std::vector<SRecordFinding>& findings_;
    std::vector<std::string> given_;
    char type_ = 0;
    std::uint32_t first_ = 0, last_ = 0, count_ = 0;
};

}  // namespace

std::vector<SRecordFinding> CheckSRecords(const std::uint8_t* source, std::uint32_t sourceLength) {
    std::vector<SRecordFinding> findings;
    std::vector<DataRange> ranges;
    RefusedTypeRuns refusedTypes(findings);
    bool ended = false;

    SRecordLineSplitter lines(source, sourceLength);
    SRecordLine line;
    SRecordBytes record;
    while (!ended && lines.Next(line)) {
        const SRecordForm form = ReadSRecordLine(line.text, record);
        if (form == SRecordForm::Blank) {
            continue;
        }
        if (form == SRecordForm::UnsupportedType) {
            refusedTypes.Add(line.text[1], line.number);
            // A file of another address width still ends: it is refused, not truncated.
            ended = IsEndRecordType(line.text[1]);
            continue;
        }
        refusedTypes.End();
        if (form != SRecordForm::Record) {
            findings.push_back({line.number, FormFault(form, line.text, record)});
            continue;
        }
        const std::uint8_t* bytes = record.bytes.data();
        const std::uint32_t last = record.size - 1;  // the checksum
        unsigned sum = 0;
        for (std::uint32_t i = 0; i < last; ++i) {
            sum += bytes[i];
        }
        const auto expected = static_cast<std::uint8_t>(~sum);
        if (bytes[last] != expected) {
            findings.push_back(
                {line.number, "checksum " + Hex(bytes[last], 2) + ", the record's bytes give " + Hex(expected, 2)});
        }
        switch (line.text[1]) {
            case '2': {
                const std::uint32_t address =
                    (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
                const std::uint32_t length = record.size - 5;
                if (length > 0) {
                    ranges.push_back({address, address + length, line.number});
                }
                break;
            }
            case '5': {
                // The count fills the address field, two bytes or three as writers choose.
                std::uint32_t count = 0;
                for (std::uint32_t i = 1; i < last; ++i) {
                    count = (count << 8) | bytes[i];
                }
                if (count != ranges.size()) {
                    findings.push_back({line.number, "S5 counts " + std::to_string(count) +
                                                         " data records, the file has " +
                                                         std::to_string(ranges.size())});
                }
                break;
            }
            case '8':
                ended = true;  // the reader stops here too
                break;
            default:
                break;
        }
    }
    refusedTypes.End();
    if (!ended) {
        // Every writer ends its file with S8: without one, the end is likely missing.
        findings.push_back(
            {std::max<std::uint32_t>(lines.LinesRead(), 1), "no S8 end record: the file is probably truncated"});
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
