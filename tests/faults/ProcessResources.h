#pragma once

#include <malloc.h>

#include <cstddef>
#include <filesystem>
#include <iterator>

// Every build of these tests is gcc's, which says so when AddressSanitizer is on.
#ifdef __SANITIZE_ADDRESS__
// From the sanitizer runtime; declared here because gcc ships no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace kestrel::testing {

// What a long run of downloads could leak: open descriptors, threads, heap.
struct ProcessResources {
    std::size_t openDescriptors;
    std::size_t threads;
    std::size_t heapBytes;  // bytes allocated and not yet freed
};

inline std::size_t CountEntries(const char* directory) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(directory), {}));
}

// Both counts include the descriptor of the listing itself, the same each time.
inline ProcessResources MeasureProcess() {
#ifdef __SANITIZE_ADDRESS__
    // AddressSanitizer keeps its own heap, which glibc's statistics do not see.
    const std::size_t heapBytes = __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    const std::size_t heapBytes = info.uordblks + info.hblkhd;
#endif
    return {CountEntries("/proc/self/fd"), CountEntries("/proc/self/task"), heapBytes};
}

}  // namespace kestrel::testing
