#include "emulator/LinePacer.h"

#include <algorithm>

namespace kestrel::emulator {

std::size_t LinePacer::Allowance(std::uint64_t nowUs, std::size_t wanted) const {
    if (!Paced()) {
        return wanted;
    }
    const std::uint64_t freeFrom = std::max(nowUs, busyUntilUs_);
    const std::uint64_t horizon = nowUs + kAheadUs;
    if (freeFrom >= horizon) {
        return 0;
    }
    return std::min<std::uint64_t>(wanted, (horizon - freeFrom) / ByteUs());
}

void LinePacer::Pass(std::uint64_t nowUs, std::size_t count) {
    if (Paced()) {
        const std::uint64_t freeFrom = std::max(nowUs, busyUntilUs_);
        busyUntilUs_ = freeFrom + count * 1000000 / bytesPerSecond_;
    }
}

int LinePacer::WaitMs(std::uint64_t nowUs) const {
    if (!Paced() || Allowance(nowUs, 1) > 0) {
        return 0;
    }
    const std::uint64_t until = busyUntilUs_ + ByteUs() - kAheadUs;
    return until > nowUs ? static_cast<int>((until - nowUs + 999) / 1000) : 0;
}

}  // namespace kestrel::emulator
