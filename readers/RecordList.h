#pragma once

#include <cstddef>
#include <vector>

#include "readers/DataRecord.h"

namespace kestrel {

// The records a reader found, in file order, held by value. Nothing sorts,
// merges or checks them: builders see them exactly as they came.
class RecordList {
public:
    void append(const DataRecord& record) { records_.push_back(record); }
    std::size_t size() const { return records_.size(); }
    const DataRecord& at(std::size_t index) const { return records_[index]; }

    // Readers reserve once up front so that reading a file allocates at most a few times.
    void reserve(std::size_t count) { records_.reserve(count); }

private:
    std::vector<DataRecord> records_;
};

}  // namespace kestrel
