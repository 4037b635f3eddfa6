#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::emulator {

// Lets bytes pass at a line's rate, as a real wire would: each byte keeps the
// line busy for its time, and only what fits into the next few milliseconds
// may go now. Time in microseconds, from any steady origin.
class LinePacer {
public:
    // 0: no pacing, everything passes at once.
    void SetRate(std::uint32_t bytesPerSecond) { bytesPerSecond_ = bytesPerSecond; }
    bool Paced() const { return bytesPerSecond_ != 0; }

    // How many of `wanted` bytes may pass at `nowUs`.
    std::size_t Allowance(std::uint64_t nowUs, std::size_t wanted) const;
    void Pass(std::uint64_t nowUs, std::size_t count);
    // Milliseconds until at least one byte may pass (0: now).
    int WaitMs(std::uint64_t nowUs) const;

private:
    std::uint64_t ByteUs() const { return bytesPerSecond_ >= 1000000 ? 1 : 1000000 / bytesPerSecond_; }

    // How far ahead of now the line may be booked: few wake-ups, little jitter.
    static constexpr std::uint64_t kAheadUs = 5000;
    std::uint32_t bytesPerSecond_ = 0;
    std::uint64_t busyUntilUs_ = 0;
};

}  // namespace kestrel::emulator
