#include "readers/ExtractDataMOT.h"

#include <cstring>

#include "readers/SRecordLines.h"

namespace kestrel {

namespace {

// A character's value as a hex digit by the arithmetic of the format's old
// readers, which gives some value for any character.
std::uint8_t DigitByArithmetic(char character) {
    const auto code = static_cast<std::uint8_t>(character);
    if (code <= 0x39) {
        return code & 0x0F;
    }
    return static_cast<std::uint8_t>(code <= 0x46 ? code - 0x37 : code - 0x57);
}

// The shortest line that holds a data record, "S204" with its address and checksum, and a line end.
constexpr std::uint32_t kShortestDataLine = 13;

}  // namespace

std::uint8_t hexPairToByte(char high, char low) {
    return static_cast<std::uint8_t>((DigitByArithmetic(high) << 4) | DigitByArithmetic(low));
}

int ExtractDataMOT::extract(const std::uint8_t* source, RecordList& records, std::uint32_t sourceLength,
                            ExtractFailure* failure) {
    SRecordLine line;
    auto refuse = [failure, &line](ExtractFailure::Kind kind) {
        if (failure != nullptr) {
            failure->kind = kind;
            failure->line = line.number;
            failure->recordType = kind == ExtractFailure::Kind::UnsupportedRecordType ? line.text[1] : '\0';
        }
        return kind == ExtractFailure::Kind::UnsupportedRecordType ? kUnsupportedRecordType : kMalformedRecord;
    };

    // Reserving once costs less than growing the list: a full window is four
    // thousand records of 272 bytes. The bound comes from the file's length
    // alone, since a pass to count the lines takes longer than reading them;
    // what is reserved beyond the records is address space, never touched.
    records.reserve(records.size() + sourceLength / kShortestDataLine + 1);

    SRecordLineSplitter lines(source, sourceLength);
    SRecordBytes bytes;
    DataRecord working;
    while (lines.Next(line)) {
        switch (ReadSRecordLine(line.text, bytes)) {
            case SRecordForm::Blank:
                continue;  // counted, nothing to read
            case SRecordForm::Record:
                break;
            case SRecordForm::UnsupportedType:
                return refuse(ExtractFailure::Kind::UnsupportedRecordType);
            default:
                // Decoding such a line would invent bytes and flash them.
                return refuse(ExtractFailure::Kind::MalformedRecord);
        }
        switch (line.text[1]) {
            case '8':
                return static_cast<int>(line.number);
            case '2':
                // Count, three address bytes, the data, the checksum.
                working.address =
                    (std::uint32_t{bytes.bytes[1]} << 16) | (std::uint32_t{bytes.bytes[2]} << 8) | bytes.bytes[3];
                working.length = bytes.size - 5;
                std::memcpy(working.data.data(), bytes.bytes.data() + 4, working.length);
                records.append(working);
                break;
            default:
                break;  // S0 and S5: read, not used
        }
    }
    return static_cast<int>(lines.LinesRead());
}

}  // namespace kestrel
