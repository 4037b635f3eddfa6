#include "ProcessResources.h"

#include <malloc.h>

#include <cstddef>
#include <filesystem>

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

namespace {

std::size_t CountEntries(const char* directory) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) {
        ++count;
    }
    return count;
}

std::size_t HeapInUse() {
#ifdef KESTREL_UNDER_ASAN
    // AddressSanitizer keeps its own heap, which glibc's statistics do not see.
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

}  // namespace

ProcessResources MeasureProcess() {
    ProcessResources resources;
    // Both counts include the descriptor of the listing itself, the same each time.
    resources.openDescriptors = CountEntries("/proc/self/fd");
    resources.threads = CountEntries("/proc/self/task");
    resources.heapBytes = HeapInUse();
    return resources;
}

}  // namespace kestrel::testing
