#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace kestrel {

// A millisecond tick count that wraps at 32 bits; differences are taken unsigned,
// so a wrap does no harm. Every pause and every wait with a bound goes through the
// clock it is measured on, so that tests and fuzzers inject their own and a
// simulated silence costs them no real time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t TickMs() = 0;
    // Lets `ms` pass before the caller goes on.
    virtual void SleepFor(std::uint32_t ms) = 0;
    // Lets up to `ms` pass on `wake` under `lock`, ended early once `woken`
    // holds (checked under the lock); whether it held at the end.
    virtual bool WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, std::uint32_t ms,
                         const std::function<bool()>& woken) = 0;
};

// The process's steady clock: never jumps with the wall-clock time, and its
// pauses and waits block the thread.
Clock& SteadyClock();

}  // namespace kestrel

namespace kestrel {

// A clock that moves only when told to: for tests, fuzzers and simulated devices
// that let time pass instantly instead of sleeping. A pause or a wait moves it by
// its whole length at once, as nothing else moves it meanwhile.
class ManualClock : public Clock {
public:
    explicit ManualClock(std::uint32_t startMs = 0) : nowMs_(startMs) {}
    std::uint32_t TickMs() override { return nowMs_; }
    void Advance(std::uint32_t ms) { nowMs_ += ms; }
    void SleepFor(std::uint32_t ms) override { Advance(ms); }
    bool WaitFor(std::unique_lock<std::mutex>&, std::condition_variable&, std::uint32_t ms,
                 const std::function<bool()>& woken) override {
        Advance(ms);
        return woken();
    }

private:
    // Atomic: a gang's sessions on threads of their own may share one clock.
    std::atomic<std::uint32_t> nowMs_;
};

}  // namespace kestrel
