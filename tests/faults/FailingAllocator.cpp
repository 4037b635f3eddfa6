#include "FailingAllocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

// The program's allocation functions, replaced so that a test can make any one
// allocation fail. Kept alone in this file so that no caller is compiled with
// them inlined. Unarmed they behave as the library's own.
namespace {

std::atomic<std::size_t> gAllocationsLeft{0};
std::atomic<bool> gFailed{false};
std::atomic<int> gPaused{0};

}  // namespace

void kestrel::testing::FailNthAllocation(std::size_t nth) {
    gFailed = false;
    gAllocationsLeft = nth;
}

bool kestrel::testing::AllocationFailed() { return gFailed; }

kestrel::testing::AllocationFaultsPaused::AllocationFaultsPaused() { ++gPaused; }
kestrel::testing::AllocationFaultsPaused::~AllocationFaultsPaused() { --gPaused; }

void* operator new(std::size_t size) {
    std::size_t left = gPaused.load() == 0 ? gAllocationsLeft.load(std::memory_order_relaxed) : 0;
    while (left != 0 && !gAllocationsLeft.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 1) {
        gFailed = true;
        throw std::bad_alloc();
    }
    // No test installs a new-handler: a real shortage is reported at once.
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
