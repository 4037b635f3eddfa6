#include "readers/ExtractDataBin.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

int ExtractDataBin::extract(const std::uint8_t* source, RecordList& records, std::uint32_t sourceLength,
                            ExtractFailure* /*failure*/) {
    records.reserve(records.size() + sourceLength / DataRecord::kCapacity + 1);
    DataRecord working;
    std::uint32_t position = 0;
    int recordCount = 0;
    while (position < sourceLength) {
        working.address = position;
        working.length = std::min(sourceLength - position, DataRecord::kCapacity);
        std::memcpy(working.data.data(), source + position, working.length);
        position += working.length;
        ++recordCount;
        records.append(working);
    }
    return recordCount;
}

}  // namespace kestrel
