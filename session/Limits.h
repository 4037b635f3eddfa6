#pragma once

#include <cstdint>

namespace kestrel {

// The most bytes a firmware file may have: what a session's source buffer holds.
inline constexpr std::uint32_t kSourceSizeLimit = 500000;

// How long the box may take to answer the synchronisation request; a front end
// counts down from it while the box is waited for.
inline constexpr std::uint32_t kSyncTimeoutMs = 20000;

}  // namespace kestrel
