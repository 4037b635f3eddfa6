#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>

// What the session log needs of the system, one file per platform.
namespace kestrel {

// `seconds` since the epoch as a UTC calendar time.
std::tm UtcTime(std::time_t seconds);

// Makes the text to append from the log as it stands (`existing`: its last
// bytes, or all of it, as asked for).
using LogComposer = std::function<std::string(const std::string& existing)>;

// Opens the file at `path` for appending, creating it if need be, takes its
// exclusive lock (every process appending to the log takes it, so the chain
// read from the file is still the last one when the record is written), reads
// its last `readAtMost` bytes (all of a shorter file), and appends what
// `compose` makes of them byte for byte (no line-end
// translation) in one write. Whole or not at all: half a record would read as
// a whole one with its end missing, so after a short write the file is cut back
// to the size it had under the lock, which removes nothing another process wrote.
// 0, or the errno of the failure.
int AppendUnderLock(const std::string& path, const LogComposer& compose, std::size_t readAtMost);

}  // namespace kestrel
