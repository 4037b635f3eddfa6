#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/SRecordWriter.h"
#include "support/TempDir.h"
#include "support/Text.h"

// Firmware and the images the box should receive from it, built independently
// of the readers and builders.
namespace kestrel::testing {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kWindowStart = 0xE0000;

// The length field 0x00020000, each byte followed by its complement.
const Bytes kLengthBytes = {0x00, 0xFF, 0x02, 0xFD, 0x00, 0xFF, 0x00, 0xFF};

// Bytes in which no two neighbours and no early repeat agree, so that a shifted
// or truncated copy never passes for the original.
inline Bytes Pattern(std::size_t count, std::uint8_t seed) {
    Bytes bytes(count);
    std::uint32_t state = 0x9E3779B9u ^ seed;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

template <class T>
std::vector<T> Concat(std::initializer_list<std::vector<T>> parts) {
    std::vector<T> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A few blocks in the window, the first at its start.
inline std::vector<FirmwareBlock> SampleBlocks() {
    return {{kWindowStart, Pattern(300, 1)}, {0xF8000, Pattern(40, 2)}, {0xFFFF0, Pattern(16, 3)}};
}

// The self-programming image: a 6-byte head, then the 128 KB window filled
// with 0xFF under the blocks.
inline Bytes SelfProgImage(const std::vector<FirmwareBlock>& blocks) {
    Bytes image = Concat({{0x00, 0x01, 0x00, 0x02, 0x00, 0x00}, Bytes(0x20000, 0xFF)});
    for (const auto& block : blocks)
        std::copy(block.bytes.begin(), block.bytes.end(), image.begin() + 6 + (block.address - kWindowStart));
    return image;
}

// A binary image: its own 30-byte header, then `dataBytes` of data.
inline Bytes BinImage(std::size_t dataBytes) { return Pattern(30 + dataBytes, 9); }

// A test's firmware files in a directory of their own, and the images a box must receive from them.
struct FirmwareFiles {
    TempDir dir;
    Bytes motImage = SelfProgImage(SampleBlocks());
    Bytes binImage = BinImage(500);  // 256 + 256 + 18 bytes
    std::string mot = dir.Write("firmware.mot", WriteSRecordFile(SampleBlocks()));
    std::string bin = dir.Write("image.bin", binImage);
    std::string misplaced = dir.Write("misplaced.mot", WriteSRecordFile({{kWindowStart + 0x100, Pattern(64, 5)}}));
    std::string missing = (dir.Path() / "missing.mot").string();
    std::string Path(const std::string& name) const { return (dir.Path() / name).string(); }
};

}  // namespace kestrel::testing
