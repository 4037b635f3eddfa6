#include "base/Clock.h"

#include <chrono>
#include <thread>

namespace kestrel {

namespace {

class SteadyMillisecondClock final : public Clock {
public:
    std::uint32_t TickMs() override {
        const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
        // Truncated to 32 bits on purpose: every user takes differences unsigned.
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count());
    }

    void SleepFor(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    bool WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, std::uint32_t ms,
                 const std::function<bool()>& woken) override {
        return wake.wait_for(lock, std::chrono::milliseconds(ms), woken);
    }
};

}  // namespace

Clock& SteadyClock() {
    static SteadyMillisecondClock clock;
    return clock;
}

}  // namespace kestrel
