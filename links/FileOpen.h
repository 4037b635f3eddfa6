#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace kestrel {

// Paths are UTF-8 throughout the tool. These open them as the system needs:
// as they are on POSIX systems, converted to UTF-16 on Windows, so that a path
// with letters beyond ASCII opens there too.
std::FILE* OpenFile(const std::string& utf8Path, const char* mode);
std::filesystem::path PathFromUtf8(const std::string& utf8Path);

}  // namespace kestrel
