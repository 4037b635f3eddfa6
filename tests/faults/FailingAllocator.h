#pragma once

#include <cstddef>

namespace kestrel::testing {

// Makes one allocation of this test program fail: the `nth` call of operator
// new from now on (1: the very next) throws std::bad_alloc, once; the others
// succeed. 0 disarms.
void FailNthAllocation(std::size_t nth);
// Whether the armed failure has been thrown since the last FailNthAllocation.
bool AllocationFailed();

// While one exists, allocations neither fail nor count: for code that is not
// under test, such as a simulated device.
class AllocationFaultsPaused {
public:
    AllocationFaultsPaused();
    ~AllocationFaultsPaused();
    AllocationFaultsPaused(const AllocationFaultsPaused&) = delete;
    AllocationFaultsPaused& operator=(const AllocationFaultsPaused&) = delete;
};

}  // namespace kestrel::testing
