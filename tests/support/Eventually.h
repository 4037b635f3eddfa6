#pragma once

// Waiting in a test for what another thread or process brings about, with a bound, so that a hang fails the
// test instead of blocking it.
#include <chrono>
#include <thread>

namespace kestrel::testing {

// What `found` gives once it is truthy, asked every `every`; its last falsy answer once `bound` has passed. The
// default bound is past any download's own, so that only a hang reaches it.
template <typename Found>
auto Eventually(Found found, std::chrono::milliseconds bound = std::chrono::seconds(60),
                std::chrono::milliseconds every = std::chrono::milliseconds(10)) {
    const auto end = std::chrono::steady_clock::now() + bound;
    auto result = found();
    for (; !result && std::chrono::steady_clock::now() < end; result = found())
        std::this_thread::sleep_for(every);
    return result;
}

}  // namespace kestrel::testing
