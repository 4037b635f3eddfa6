#pragma once

#include <cstdint>

#include "builders/OutputData.h"

namespace kestrel {

// The self-programming image of an S-record source: a six-byte head (type 1,
// data length 0x20000, both big-endian) and the window 0xE0000..0xFFFFF, with
// 0xFF wherever no record writes.
class OutputDataSelfProg : public OutputData {
public:
    static constexpr std::uint32_t kWindowStart = 0xE0000;
    static constexpr std::uint32_t kWindowSize = 0x20000;
    static constexpr std::uint32_t kHeadLength = 6;
    static constexpr std::uint32_t kImageLength = kHeadLength + kWindowSize;  // 0x20006

    // -1 when the first record is not at the window's start, -2 when a later
    // record has bytes outside the window, -3 when the image does not fit.
    int BuildOutput(const RecordList& records, std::uint8_t* image, std::uint32_t& outputLength,
                    std::uint32_t imageCapacity) override;
};

}  // namespace kestrel
