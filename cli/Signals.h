#pragma once

#include <atomic>

namespace kestrel::cli {

// From now on an interrupt (Ctrl-C) or a request to end sets `requested`
// instead of ending the process, so that the download ends by its own cancel,
// its link released and its last line written. `requested` must outlive the process's use of it.
void CancelOnInterrupt(std::atomic<bool>& requested);

}  // namespace kestrel::cli
