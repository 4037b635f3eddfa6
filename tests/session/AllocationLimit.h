#pragma once

#include <cstddef>

namespace kestrel::testing {

// While set, every allocation of `fromBytes` bytes or more in this test program
// throws std::bad_alloc; 0 lets every allocation through again.
void RefuseAllocationsFrom(std::size_t fromBytes);

struct RefuseLargeAllocations {
    explicit RefuseLargeAllocations(std::size_t fromBytes) { RefuseAllocationsFrom(fromBytes); }
    ~RefuseLargeAllocations() { RefuseAllocationsFrom(0); }
    RefuseLargeAllocations(const RefuseLargeAllocations&) = delete;
    RefuseLargeAllocations& operator=(const RefuseLargeAllocations&) = delete;
};

}  // namespace kestrel::testing
