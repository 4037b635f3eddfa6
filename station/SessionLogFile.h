#pragma once

#include <ctime>
#include <string>

// What the session log needs of the system, one file per platform.
namespace kestrel {

// `seconds` since the epoch as a UTC calendar time.
std::tm UtcTime(std::time_t seconds);

// Appends `text` to the file at `path` as it is, byte for byte (no line-end
// translation), creating the file if need be, in one write. 0, or the errno of
// the failure.
int AppendToFile(const std::string& path, const std::string& text);

}  // namespace kestrel
