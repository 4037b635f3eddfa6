#pragma once

#include <cstdint>

#include "readers/RecordList.h"

namespace kestrel {

// Why a reader stopped before the end of its source, and where.
struct ExtractFailure {
    enum class Kind { None, UnsupportedRecordType, MalformedRecord };
    Kind kind = Kind::None;
    std::uint32_t line = 0;  // counted from 1
    char recordType = 0;     // for UnsupportedRecordType: the character after the 'S'
};

// Abstract firmware file reader: turns the raw file bytes into records.
class ExtractData {
public:
    // Results below zero: the source holds a line the tool cannot accept.
    static constexpr int kUnsupportedRecordType = -1;
    static constexpr int kMalformedRecord = -2;

    virtual ~ExtractData() = default;

    // Appends one record per record found, in file order. Returns the count of
    // lines interpreted (zero or more), or one of the negative results above, in
    // which case `failure` (when given) says which line stopped the reading.
    virtual int extract(const std::uint8_t* source, RecordList& records, std::uint32_t sourceLength,
                        ExtractFailure* failure = nullptr) = 0;
};

}  // namespace kestrel
