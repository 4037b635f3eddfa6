#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// What belongs to one box alone (its serial number, or its row of unit data)
// and where in its image it goes.

// How a serial number is written into the image.
struct SerialFormat {
    enum class Kind { U32Le, U32Be, Ascii };
    Kind kind = Kind::U32Le;
    std::size_t width = 4;  // bytes in the image
};

// "u32le", "u32be" or "ascii:N" (N from 1 to 20); an empty string, or why not.
std::string ParseSerialFormat(const std::string& text, SerialFormat& format);

// `number` as `format` writes it; false when it does not fit (more than 32
// bits, or more digits than ascii:N has).
bool SerialBytes(std::uint64_t number, const SerialFormat& format, std::vector<std::uint8_t>& bytes);

// Where a field of `length` bytes at `address` lies in an image of
// `sourceKind`: for S-records an address in the flash window 0xE0000..0xFFFFF
// (the byte for A is at offset 6 + A - 0xE0000), for a binary image a byte
// offset in the file past its 30-byte header. Empty, with `why`, when the field
// does not fit the image.
std::optional<std::uint32_t> FieldOffset(std::uint32_t address, std::size_t length, std::uint8_t sourceKind,
                                         std::uint32_t imageLength, std::string& why);

// One row of unit data: hex bytes, with blanks, ':' or '-' between them allowed.
// An empty string, or why the row is not one.
std::string ParseUnitRow(const std::string& text, std::vector<std::uint8_t>& bytes);

// A value for people: the hex of `bytes`, two digits a byte.
std::string HexBytes(const std::vector<std::uint8_t>& bytes);

}  // namespace kestrel
