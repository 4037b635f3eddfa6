#pragma once

#include <cstdint>

#include "builders/OutputData.h"

namespace kestrel {

// The image of a binary source: the records' bytes one after the other, no
// head, addresses not looked at. For a ".bin" file this is the file itself.
class OutputDataBin : public OutputData {
public:
    // -3 when the bytes do not fit in `imageCapacity`; otherwise 0.
    int BuildOutput(const RecordList& records, std::uint8_t* image, std::uint32_t& outputLength,
                    std::uint32_t imageCapacity) override;
};

}  // namespace kestrel
