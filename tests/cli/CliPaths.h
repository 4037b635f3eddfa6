#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kestrel::testing {

// The program under test and the demo firmware, where the build put them.
inline const std::string kFlash = KESTREL_FLASH;
inline const std::string kSamples = KESTREL_SAMPLES_DIR;

inline std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace kestrel::testing
