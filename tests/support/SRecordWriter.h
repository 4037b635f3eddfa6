#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
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

// One record line of `type` ('0' to '9') with a 24-bit address, a correct
// checksum and the line end. An S0 or S5 line takes its payload the same way.
inline std::string SRecordLine(char type, std::uint32_t address, const std::uint8_t* data, std::size_t count,
                               const SRecordStyle& style = {}) {
    std::vector<std::uint8_t> fields = {static_cast<std::uint8_t>(count + 4), static_cast<std::uint8_t>(address >> 16),
                                        static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    fields.insert(fields.end(), data, data + count);
    fields.push_back(static_cast<std::uint8_t>(~std::accumulate(fields.begin(), fields.end(), 0u)));
    const char* digits = style.lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string line = {'S', type};
    for (const std::uint8_t byte : fields)
        line += {digits[byte >> 4], digits[byte & 0x0F]};
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
    for (const auto& block : blocks)
        for (std::size_t at = 0; at < block.bytes.size(); at += bytesPerLine, ++dataLines) {
            const std::size_t count = std::min(bytesPerLine, block.bytes.size() - at);
            text +=
                SRecordLine('2', block.address + static_cast<std::uint32_t>(at), block.bytes.data() + at, count, style);
        }
    // The S5 count sits in the low 16 bits of the address field; the reader never looks at it.
    text += SRecordLine('5', dataLines & 0xFFFF, nullptr, 0, style);
    return text + SRecordLine('8', 0xE0000, nullptr, 0, style);
}

}  // namespace kestrel::testing
