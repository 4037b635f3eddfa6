#pragma once

#include <atomic>

namespace kestrel::cli {

// From now on an interrupt (Ctrl-C) or a request to end sets `requested`
// instead of ending the process, so that the download ends by its own cancel,
// its link released and its last line written. `requested` must outlive the process's use of it.
// A closed terminal cancels too; a reader of stdout that went away must not end
// a download half-way (its lines are lost, which the exit status says). On
// Windows a closed console window, a sign-out or a shutdown cancels, and the
// system's end of the process waits, within the time Windows allows, until the
// program has ended by itself with its records written.
void CancelOnInterrupt(std::atomic<bool>& requested);

// A closed standard stream would lend its number to the next file opened, the
// port or the log, which would then receive the lines meant for the stream:
// where the system reuses such numbers, it is held by a device that takes nothing.
// On Windows a standard stream shown in a console window is written to it as
// UTF-16 (see ConsoleText.h).
void HoldClosedStandardStreams();

}  // namespace kestrel::cli
