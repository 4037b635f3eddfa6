#include "base/Clock.h"

#include <chrono>

namespace kestrel {

namespace {

class SteadyMillisecondClock final : public Clock {
public:
    std::uint32_t TickMs() override {
        const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
        // Truncated to 32 bits on purpose: every user takes differences unsigned.
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count());
    }
};

}  // namespace

Clock& SteadyClock() {
    static SteadyMillisecondClock clock;
    return clock;
}

}  // namespace kestrel
