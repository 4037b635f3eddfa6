#pragma once

#include <functional>
#include <optional>
#include <string>

#include "station/SessionLogFile.h"

namespace kestrel {

// Replaces the small file at `path` (a counter, how far a list was used) under
// an exclusive lock on `path` + ".lock", which every process sharing the file
// takes. `update` gets the file's text (none when the file is missing) and
// sets the next text, or returns an errno to leave the file as it is. The next
// text goes to a file beside it, is flushed to the disk and renamed over it,
// and the folder is flushed, before this returns: after a kill or a power cut
// the file holds the old text or the new one, never a mix or nothing.
// 0, or the errno of the failure (ETIMEDOUT, ECANCELED: see LockWait).
int UpdateStateFile(const std::string& path,
                    const std::function<int(const std::optional<std::string>& text, std::string& next)>& update,
                    const LockWait& wait = {});

}  // namespace kestrel
