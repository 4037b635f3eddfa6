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
