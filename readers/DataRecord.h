#pragma once

#include <array>
#include <cstdint>

namespace kestrel {

// One contiguous run of firmware bytes and the target address of its first byte.
// Only the first `length` bytes of `data` carry meaning.
class DataRecord final {
public:
    static constexpr std::uint32_t kCapacity = 256;

    DataRecord() = default;
    DataRecord(const DataRecord&) = default;
    DataRecord& operator=(const DataRecord&) = default;
    virtual ~DataRecord() = default;

    // Zero-initialised so that a record that a reader never filled is never read as garbage.
    std::uint32_t address = 0;
    std::uint32_t length = 0;
    std::array<std::uint8_t, kCapacity> data{};
};

}  // namespace kestrel
