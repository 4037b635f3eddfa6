#pragma once

#include <cstddef>

namespace kestrel::testing {

// What a long run of downloads could leak: open descriptors, threads, heap.
struct ProcessResources {
    std::size_t openDescriptors = 0;
    std::size_t threads = 0;
    std::size_t heapBytes = 0;  // bytes allocated and not yet freed
};

ProcessResources MeasureProcess();

}  // namespace kestrel::testing
