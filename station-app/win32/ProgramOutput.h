#pragma once

#include <string>

namespace kestrel::stationapp::win32 {

// A program of the window subsystem has no console of its own: its text goes to
// the standard output or error it was given, or to the console it was started
// from; to a console as UTF-16, so that any name reads right, to a file or
// pipe as UTF-8.
void SayOnOutput(const std::string& text);
void SayOnError(const std::string& text);

}  // namespace kestrel::stationapp::win32
