#include "readers/ExtractDataMOT.h"

#include <array>
#include <cstring>

namespace kestrel {

namespace {

// The value of each character as a hex digit, looked up rather than computed:
// decoding digits is nearly all the work of reading a file. A character that
// is no hex digit gives what the arithmetic of the format's old readers gave.
constexpr std::array<std::uint8_t, 256> kHexDigitValues = [] {
    std::array<std::uint8_t, 256> values{};
    for (unsigned code = 0; code < 256; ++code) {
        if (code <= 0x39) {
            values[code] = static_cast<std::uint8_t>(code & 0x0F);
        } else if (code <= 0x46) {
            values[code] = static_cast<std::uint8_t>(code - 0x37);
        } else {
            values[code] = static_cast<std::uint8_t>(code - 0x57);
        }
    }
    return values;
}();

inline std::uint8_t hexDigitValue(char character) { return kHexDigitValues[static_cast<std::uint8_t>(character)]; }

// The line as it stands in the source: no copy, its line end excluded.
struct Line {
    const char* text;
    std::uint32_t length;
};

// Every S2 line needs its type, count, 3 address bytes and checksum: 10 characters
// beyond the data, two per byte of count.
constexpr std::uint32_t kS2FixedBytes = 4;

}  // namespace

std::uint8_t hexPairToByte(char high, char low) {
    return static_cast<std::uint8_t>((hexDigitValue(high) << 4) | hexDigitValue(low));
}

int ExtractDataMOT::extract(const std::uint8_t* source, RecordList& records, std::uint32_t sourceLength,
                            ExtractFailure* failure) {
    const char* text = reinterpret_cast<const char*>(source);
    auto refuse = [failure](ExtractFailure::Kind kind, int lineNumber) {
        if (failure != nullptr) {
            failure->kind = kind;
            failure->line = static_cast<std::uint32_t>(lineNumber);
        }
        return kind == ExtractFailure::Kind::UnsupportedRecordType ? kUnsupportedRecordType : kMalformedRecord;
    };

    // One record per line of a full-window file is about one per 75 bytes.
    records.reserve(records.size() + sourceLength / 75 + 1);

    DataRecord working;
    std::uint32_t position = 0;
    int linesRead = 0;
    while (position < sourceLength) {
        ++linesRead;

        // A line ends at LF; a CR just before it belongs to the line end. A CR
        // anywhere else is an ordinary character, as the format has it.
        const void* found = std::memchr(text + position, '\n', sourceLength - position);
        const std::uint32_t end =
            found != nullptr ? static_cast<std::uint32_t>(static_cast<const char*>(found) - text) : sourceLength;
        std::uint32_t lineEnd = end;
        if (found != nullptr && lineEnd > position && text[lineEnd - 1] == '\r') {
            --lineEnd;
        }
        const Line line{text + position, lineEnd - position};
        position = found != nullptr ? end + 1 : sourceLength;

        if (line.length == 0) {
            continue;  // blank line: counted, nothing to read
        }
        if (line.length > kMaxLineLength || line.length < 2) {
            return refuse(ExtractFailure::Kind::MalformedRecord, linesRead);
        }

        switch (line.text[1]) {
            case '0':
            case '5':
                break;
            case '8':
                return linesRead;
            case '2': {
                if (line.length < 4) {
                    return refuse(ExtractFailure::Kind::MalformedRecord, linesRead);
                }
                const std::uint32_t byteCount = hexPairToByte(line.text[2], line.text[3]);
                if (byteCount < kS2FixedBytes || line.length < 4 + 2 * byteCount) {
                    return refuse(ExtractFailure::Kind::MalformedRecord, linesRead);
                }
                const char* digits = line.text;
                working.address = (static_cast<std::uint32_t>(hexPairToByte(digits[4], digits[5])) << 16) |
                                  (static_cast<std::uint32_t>(hexPairToByte(digits[6], digits[7])) << 8) |
                                  hexPairToByte(digits[8], digits[9]);
                working.length = byteCount - kS2FixedBytes;
                for (std::uint32_t i = 0; i < working.length; ++i) {
                    working.data[i] = hexPairToByte(digits[10 + 2 * i], digits[11 + 2 * i]);
                }
                records.append(working);
                break;
            }
            default:
                return refuse(ExtractFailure::Kind::UnsupportedRecordType, linesRead);
        }
    }
    return linesRead;
}

}  // namespace kestrel
