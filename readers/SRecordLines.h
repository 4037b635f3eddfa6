#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kestrel {

// One line of S-record text: its characters without the line end and without
// trailing blanks (editors and mail leave them behind; they mean nothing).
struct SRecordLine {
    std::string_view text;
    std::uint32_t number = 0;  // counted from 1
};

// Cuts S-record text into lines, the same way for the reader and for the file
// check, so that what the one takes the other examines. A line ends at LF, at
// CR LF, or at a CR alone (files from old Macintosh tools). A last line needs
// no line end.
class SRecordLineSplitter {
public:
    SRecordLineSplitter(const std::uint8_t* source, std::uint32_t length)
        : text_(reinterpret_cast<const char*>(source)), length_(length) {}

    // The next line, blank ones included; false at the end of the text.
    bool Next(SRecordLine& line);
    // Lines handed out so far.
    std::uint32_t LinesRead() const { return linesRead_; }

private:
    const char* text_;
    std::uint32_t length_;
    std::uint32_t position_ = 0;
    std::uint32_t linesRead_ = 0;
    std::uint32_t nextLf_ = 0;  // where the next LF stands, or length_ when none is left
    bool lfSearched_ = false;
};

// What a line is, judged by its form before anything acts on its type.
enum class SRecordForm {
    Blank,            // nothing on the line
    Record,           // a record of a taken type, all hex, as long as its count says
    NotARecord,       // the first character is not 'S' or 's'
    UnsupportedType,  // a type other than S0, S2, S5 or S8
    TooShort,         // no room for the count, or a count too small for the type's address and checksum
    NotHexDigit,      // a character after the type that is no hex digit
    LengthMismatch,   // more or fewer characters than the count announces
};

// The bytes of a well-formed record after its type: the count, the address,
// the data and the checksum, in the order they stand.
struct SRecordBytes {
    std::array<std::uint8_t, 256> bytes{};
    std::uint32_t size = 0;  // the count plus one
    // Where the form broke: the column (from 1) of the first non-hex
    // character, or the characters the count demands for LengthMismatch.
    std::uint32_t faultColumn = 0;
    std::uint32_t demandedLength = 0;
};

// Judges the line, and for a Record decodes its bytes into `out`. Checksums are
// not judged here: stored files may carry wrong ones, and the download takes them.
SRecordForm ReadSRecordLine(std::string_view line, SRecordBytes& out);

}  // namespace kestrel
