#include "readers/SRecordLines.h"

#include <cstring>

namespace kestrel {

namespace {

// A hex digit's value, or kNoDigit: decoding digits is nearly all the work of
// reading a file, so it is looked up rather than computed.
constexpr std::uint8_t kNoDigit = 0xFF;
constexpr std::array<std::uint8_t, 256> kDigitValues = [] {
    std::array<std::uint8_t, 256> values{};
    for (unsigned code = 0; code < 256; ++code) {
        values[code] = kNoDigit;
    }
    for (unsigned digit = 0; digit < 10; ++digit) {
        values['0' + digit] = static_cast<std::uint8_t>(digit);
    }
    for (unsigned digit = 0; digit < 6; ++digit) {
        values['A' + digit] = static_cast<std::uint8_t>(10 + digit);
        values['a' + digit] = static_cast<std::uint8_t>(10 + digit);
    }
    return values;
}();

inline std::uint8_t DigitValue(char character) { return kDigitValues[static_cast<std::uint8_t>(character)]; }

// The count covers the address and the checksum: S0 and S5 carry a 16-bit
// field, S2 and S8 a 24-bit address.
std::uint32_t SmallestCount(char type) { return type == '0' || type == '5' ? 3 : 4; }

bool IsBlank(char character) { return character == ' ' || character == '\t'; }

// The first character after the type that is no hex digit, counted from 1.
std::uint32_t FirstNonHexColumn(std::string_view line) {
    for (std::size_t i = 2; i < line.size(); ++i) {
        if (DigitValue(line[i]) == kNoDigit) {
            return static_cast<std::uint32_t>(i + 1);
        }
    }
    return 0;
}

}  // namespace

bool SRecordLineSplitter::Next(SRecordLine& line) {
    if (position_ >= length_) {
        return false;
    }
    // The next LF is looked for once and kept: a file of CR line ends has none,
    // and looking through the rest of the file for each line would take time
    // that grows with the square of its length.
    if (!lfSearched_ || nextLf_ < position_) {
        const void* lf = std::memchr(text_ + position_, '\n', length_ - position_);
        nextLf_ = lf != nullptr ? static_cast<std::uint32_t>(static_cast<const char*>(lf) - text_) : length_;
        lfSearched_ = true;
    }
    std::uint32_t end = nextLf_;
    std::uint32_t next = nextLf_ + 1;
    // A CR ends the line whether an LF follows it or not.
    if (const void* cr = std::memchr(text_ + position_, '\r', nextLf_ - position_); cr != nullptr) {
        end = static_cast<std::uint32_t>(static_cast<const char*>(cr) - text_);
        next = end + 1 == nextLf_ ? nextLf_ + 1 : end + 1;
    }
    const std::uint32_t start = position_;
    while (end > start && IsBlank(text_[end - 1])) {
        --end;
    }
    position_ = next < length_ ? next : length_;
    line.text = std::string_view(text_ + start, end - start);
    line.number = ++linesRead_;
    return true;
}

SRecordForm ReadSRecordLine(std::string_view line, SRecordBytes& out) {
    out.size = 0;
    out.faultColumn = 0;
    out.demandedLength = 0;
    if (line.empty()) {
        return SRecordForm::Blank;
    }
    if (line[0] != 'S' && line[0] != 's') {
        return SRecordForm::NotARecord;
    }
    if (line.size() < 2) {
        return SRecordForm::TooShort;
    }
    const char type = line[1];
    if (type != '0' && type != '2' && type != '5' && type != '8') {
        return SRecordForm::UnsupportedType;
    }
    if (line.size() < 4) {
        return SRecordForm::TooShort;
    }
    const std::uint8_t high = DigitValue(line[2]);
    const std::uint8_t low = DigitValue(line[3]);
    if (high == kNoDigit || low == kNoDigit) {
        out.faultColumn = high == kNoDigit ? 3 : 4;
        return SRecordForm::NotHexDigit;
    }
    const std::uint32_t count = (std::uint32_t{high} << 4) | low;
    if (count < SmallestCount(type)) {
        return SRecordForm::TooShort;
    }
    out.demandedLength = 4 + 2 * count;
    if (line.size() != out.demandedLength) {
        // A stray character in a line of the right length is the better diagnosis.
        out.faultColumn = FirstNonHexColumn(line.substr(0, out.demandedLength));
        return out.faultColumn != 0 ? SRecordForm::NotHexDigit : SRecordForm::LengthMismatch;
    }
    out.bytes[0] = static_cast<std::uint8_t>(count);
    const char* digits = line.data() + 4;
    for (std::uint32_t i = 1; i <= count; ++i, digits += 2) {
        const std::uint8_t h = DigitValue(digits[0]);
        const std::uint8_t l = DigitValue(digits[1]);
        if (((h | l) & 0xF0) != 0) {  // kNoDigit has the high bits set
            out.faultColumn = FirstNonHexColumn(line);
            return SRecordForm::NotHexDigit;
        }
        out.bytes[i] = static_cast<std::uint8_t>((h << 4) | l);
    }
    out.size = count + 1;
    return SRecordForm::Record;
}

}  // namespace kestrel
