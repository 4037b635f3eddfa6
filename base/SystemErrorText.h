#pragma once

#include <string>

namespace kestrel {

// The system's own words for the error `error` (an errno value), for error
// lines: strerror's on POSIX systems; on Windows the system's message for the
// Windows error the C library made it of ("The system cannot find the file
// specified.", in the language of the system), not POSIX's words.
std::string SystemErrorText(int error);

}  // namespace kestrel
