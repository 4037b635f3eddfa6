#pragma once

#include <cstdint>

#include "readers/RecordList.h"

namespace kestrel {

// Abstract image builder: lays the records out as the bytes the box receives.
class OutputData {
public:
    static constexpr int kStartAddressWrong = -1;
    static constexpr int kAddressOutsideWindow = -2;
    static constexpr int kImageTooLarge = -3;

    virtual ~OutputData() = default;

    // Writes the image from image[0], never past image[imageCapacity - 1], and sets
    // outputLength. Returns 0, or one of the negative results above.
    virtual int BuildOutput(const RecordList& records, std::uint8_t* image, std::uint32_t& outputLength,
                            std::uint32_t imageCapacity) = 0;
};

}  // namespace kestrel
