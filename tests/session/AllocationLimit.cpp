#include "AllocationLimit.h"

#include <atomic>
#include <cstdlib>
#include <new>

// The program's allocation functions, replaced so that a test can make large
// allocations fail. Kept alone in this file so that no caller is compiled with
// them inlined. Until a limit is set they behave as the library's own.
namespace {
std::atomic<std::size_t> gRefuseFromBytes{0};
}  // namespace

void kestrel::testing::RefuseAllocationsFrom(std::size_t fromBytes) { gRefuseFromBytes = fromBytes; }

void* operator new(std::size_t size) {
    const std::size_t limit = gRefuseFromBytes.load(std::memory_order_relaxed);
    if (limit != 0 && size >= limit) {
        throw std::bad_alloc();
    }
    for (;;) {
        if (void* block = std::malloc(size == 0 ? 1 : size)) {
            return block;
        }
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) {
            throw std::bad_alloc();
        }
        handler();
    }
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
