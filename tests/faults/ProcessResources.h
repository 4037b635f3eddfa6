#pragma once

#include <malloc.h>

#include <cstddef>
#include <filesystem>
#include <iterator>

#if defined(__SANITIZE_ADDRESS__)
#define KESTREL_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTREL_UNDER_ASAN 1
#endif
#endif

#ifdef KESTREL_UNDER_ASAN
// From the sanitizer runtime; declared here because gcc ships no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace kestrel::testing {

// What a long run of downloads could leak: open descriptors, threads, heap.
struct ProcessResources {
    std::size_t openDescriptors = 0;
    std::size_t threads = 0;
    std::size_t heapBytes = 0;  // bytes allocated and not yet freed
};

inline std::size_t CountEntries(const char* directory) {
    using Entries = std::filesystem::directory_iterator;
    return static_cast<std::size_t>(std::distance(Entries(directory), Entries()));
}

inline ProcessResources MeasureProcess() {
    ProcessResources resources;
    // Both counts include the descriptor of the listing itself, the same each time.
    resources.openDescriptors = CountEntries("/proc/self/fd");
    resources.threads = CountEntries("/proc/self/task");
#ifdef KESTREL_UNDER_ASAN
    // AddressSanitizer keeps its own heap, which glibc's statistics do not see.
    resources.heapBytes = __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    resources.heapBytes = info.uordblks + info.hblkhd;
#endif
    return resources;
}

}  // namespace kestrel::testing
