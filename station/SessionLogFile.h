#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "base/Clock.h"

// What the session log needs of the system, one file per platform.
namespace kestrel {

// `seconds` since the epoch as a UTC calendar time.
std::tm UtcTime(std::time_t seconds);

// Hands the log's bytes from `from` up to `to` to `take`, piece by piece, so
// that a log of any size is read in little memory. 0, or the errno of the failure.
using LogReader =
    std::function<int(std::uint64_t from, std::uint64_t to, const std::function<void(std::string_view piece)>& take)>;

// Makes the text to append from the log as it stands under the lock: its size and a reader of its bytes.
using LogComposer = std::function<std::string(std::uint64_t size, const LogReader& read)>;

// How long a writer waits for another process's lock on the log. A holder
// normally keeps it for one record; one that keeps it longer (a hung process,
// a tool that locked the file) must not hold the line for ever.
struct LockWait {
    std::uint32_t boundMs = 10000;      // then ETIMEDOUT
    std::function<bool()> cancelled{};  // polled while waiting; true: ECANCELED at once
    Clock* clock = nullptr;             // null: the steady clock
};

// Takes the lock through `tryLock` (0, EWOULDBLOCK while another holds it, or
// another errno), waiting as `wait` allows. 0, ETIMEDOUT, ECANCELED or the errno.
int LockWithin(const std::function<int()>& tryLock, const LockWait& wait);

// Opens the file at `path` for appending, creating it if need be, takes its
// exclusive lock (every process appending to the log takes it, so what
// `compose` reads is still the end of the log when the record is written) and
// appends what `compose` makes byte for byte (no line-end translation) in one
// write. Whole or not at all: half a record would read as a whole one with its
// end missing, so after a short write the file is cut back to the size it had
// under the lock, which removes nothing another process wrote.
// 0, or the errno of the failure (ETIMEDOUT, ECANCELED: see LockWait).
int AppendUnderLock(const std::string& path, const LogComposer& compose, const LockWait& wait);

}  // namespace kestrel
