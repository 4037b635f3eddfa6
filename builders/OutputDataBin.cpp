#include "builders/OutputDataBin.h"

#include <cstring>

namespace kestrel {

int OutputDataBin::BuildOutput(const RecordList& records, std::uint8_t* image, std::uint32_t& outputLength,
                               std::uint32_t imageCapacity) {
    std::uint32_t position = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const DataRecord& record = records.at(i);
        if (record.length > imageCapacity - position) {
            outputLength = position;
            return kImageTooLarge;
        }
        std::memcpy(image + position, record.data.data(), record.length);
        position += record.length;
    }
    outputLength = position;
    return 0;
}

}  // namespace kestrel
