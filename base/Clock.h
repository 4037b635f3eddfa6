#pragma once

#include <cstdint>

namespace kestrel {

// A millisecond tick count that wraps at 32 bits; differences are taken unsigned,
// so a wrap does no harm. Tests and fuzzers inject their own.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t TickMs() = 0;
};

// The process's steady clock: never jumps with the wall-clock time.
Clock& SteadyClock();

}  // namespace kestrel

namespace kestrel {

// A clock that moves only when told to: for tests, fuzzers and simulated devices
// that let time pass instantly instead of sleeping.
class ManualClock : public Clock {
public:
    explicit ManualClock(std::uint32_t startMs = 0) : nowMs_(startMs) {}
    std::uint32_t TickMs() override { return nowMs_; }
    void Advance(std::uint32_t ms) { nowMs_ += ms; }

private:
    std::uint32_t nowMs_;
};

}  // namespace kestrel
