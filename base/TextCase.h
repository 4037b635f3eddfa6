#pragma once

#include <string>

namespace kestrel {

// Compares two names the way link names and file extensions are compared: by
// their bytes, ASCII letters without regard to case, whatever the locale.
// Negative, zero or positive.
int CompareIgnoringCase(const std::string& left, const std::string& right);

}  // namespace kestrel
