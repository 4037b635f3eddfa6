#pragma once

#include <cstdint>

#include "readers/ExtractData.h"

namespace kestrel {

// Reader for raw binary images (".bin"): cuts the file into records of 256
// bytes whose addresses are their offsets in the file. Any content is accepted.
class ExtractDataBin : public ExtractData {
public:
    int extract(const std::uint8_t* source, RecordList& records, std::uint32_t sourceLength,
                ExtractFailure* failure = nullptr) override;
};

}  // namespace kestrel
