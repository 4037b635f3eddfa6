#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

// The kinds of firmware file. The number is also the firmware type that a box
// announces for that kind.
inline constexpr std::uint8_t kSourceKindUnknown = 0;
inline constexpr std::uint8_t kSourceKindMot = 1;  // S-record text, ".mot"
inline constexpr std::uint8_t kSourceKindBin = 2;  // raw binary image, ".bin"

// The kind of the file at `path`, by its last four characters in any case:
// ".mot" or ".bin", anything else unknown.
std::uint8_t SourceKindOf(const std::string& path);

// The line rate for an image of `sourceKind`: 38400 baud for a binary image,
// 115200 for everything else (the rate a link opens at before the kind is known).
std::uint32_t BaudRateForSource(std::uint8_t sourceKind);

}  // namespace kestrel
