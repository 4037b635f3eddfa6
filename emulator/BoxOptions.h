#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emulator/BoxModel.h"

namespace kestrel::emulator {

// Command-line words of the box's scenarios.

// "sync", "length" (also "header"), "erase", "data", "read-back"; any case.
std::optional<BoxStage> ParseStage(const std::string& word);
// Bytes written as hexadecimal numbers, separated by commas or blanks:
// "2a,00" or "0x2A 0x00". Nothing when a number is not a byte.
std::optional<std::vector<std::uint8_t>> ParseBytes(const std::string& text);

}  // namespace kestrel::emulator
