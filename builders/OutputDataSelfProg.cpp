#include "builders/OutputDataSelfProg.h"

#include <cstring>

namespace kestrel {

int OutputDataSelfProg::BuildOutput(const RecordList& records, std::uint8_t* image, std::uint32_t& outputLength,
                                    std::uint32_t imageCapacity) {
    if (imageCapacity < kImageLength) {
        return kImageTooLarge;
    }
    outputLength = kImageLength;
    std::memset(image + kHeadLength, 0xFF, kWindowSize);
    // Image type 1, then the data length 0x00020000: a constant of the format,
    // not the sum of the records.
    const std::uint8_t head[kHeadLength] = {0x00, 0x01, 0x00, 0x02, 0x00, 0x00};
    std::memcpy(image, head, kHeadLength);

    std::uint8_t* window = image + kHeadLength;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const DataRecord& record = records.at(i);
        if (i == 0 && record.address != kWindowStart) {
            return kStartAddressWrong;
        }
        // Computed in 64 bits so that an address near the top of the range cannot wrap into the window.
        const std::uint64_t start = record.address;
        const std::uint64_t end = start + record.length;
        if (start < kWindowStart || end > std::uint64_t{kWindowStart} + kWindowSize) {
            return kAddressOutsideWindow;
        }
        std::memcpy(window + (record.address - kWindowStart), record.data.data(), record.length);
    }
    return 0;
}

}  // namespace kestrel
