#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel::cli {

// Writes `size` bytes to `path` whole or not at all: into a new file beside it,
// put in the place of `path` once written and flushed, so that a full disk or a kill
// leaves the old file as it was rather than a truncated image. An empty string,
// or why it failed.
std::string WriteFileWhole(const std::string& path, const std::uint8_t* data, std::size_t size);

}  // namespace kestrel::cli
