#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Writes firmware as S-record text, independently of the reader under test, so
// that tests and benchmarks can turn known bytes into files of any shape.
namespace kestrel::testing {

struct SRecordStyle {
    bool lowerCase = false;
    std::string lineEnd = "\r\n";
};

// A run of firmware bytes and the address of its first byte.
struct FirmwareBlock {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
};

inline void AppendHexByte(std::string& out, std::uint8_t value, bool lowerCase) {
    const char* digits = lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
    out += digits[value >> 4];
    out += digits[value & 0x0F];
}

// One record line of `type` ('0' to '9') with a 24-bit address, a correct
// checksum and the line end. An S0 or S5 line takes its payload the same way.
inline std::string SRecordLine(char type, std::uint32_t address, const std::uint8_t* data, std::size_t count,
                               const SRecordStyle& style = {}) {
    const auto byteCount = static_cast<std::uint8_t>(count + 4);
    std::string line = "S";
    line += type;
    std::uint8_t sum = byteCount;
    AppendHexByte(line, byteCount, style.lowerCase);
    for (int shift = 16; shift >= 0; shift -= 8) {
        const auto part = static_cast<std::uint8_t>(address >> shift);
        sum = static_cast<std::uint8_t>(sum + part);
        AppendHexByte(line, part, style.lowerCase);
    }
    for (std::size_t i = 0; i < count; ++i) {
        sum = static_cast<std::uint8_t>(sum + data[i]);
        AppendHexByte(line, data[i], style.lowerCase);
    }
    AppendHexByte(line, static_cast<std::uint8_t>(~sum), style.lowerCase);
    return line + style.lineEnd;
}

inline std::string S2Line(std::uint32_t address, const std::vector<std::uint8_t>& data,
                          const SRecordStyle& style = {}) {
    return SRecordLine('2', address, data.data(), data.size(), style);
}

// A whole file: S0 header, the blocks as S2 lines of at most `bytesPerLine`
// bytes each in the order given, an S5 count and the S8 end line.
inline std::string WriteSRecordFile(const std::vector<FirmwareBlock>& blocks, std::size_t bytesPerLine = 32,
                                    const SRecordStyle& style = {}) {
    static const std::uint8_t kHeader[] = {'k', 'e', 's', 't', 'r', 'e', 'l'};
    std::string text = SRecordLine('0', 0, kHeader, sizeof kHeader, style);
    std::uint32_t dataLines = 0;
    for (const auto& block : blocks) {
        for (std::size_t at = 0; at < block.bytes.size(); at += bytesPerLine) {
            const std::size_t count = std::min(bytesPerLine, block.bytes.size() - at);
            text +=
                SRecordLine('2', block.address + static_cast<std::uint32_t>(at), block.bytes.data() + at, count, style);
            ++dataLines;
        }
    }
    // The S5 count sits in the low 16 bits of the address field; the reader never looks at it.
    text += SRecordLine('5', dataLines & 0xFFFF, nullptr, 0, style);
    text += SRecordLine('8', 0xE0000, nullptr, 0, style);
    return text;
}

}  // namespace kestrel::testing
