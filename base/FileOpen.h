#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace kestrel {

// Paths are UTF-8 throughout the tool. These open them as the system needs:
// as they are on POSIX systems, converted to UTF-16 on Windows, so that a path
// with letters beyond ASCII opens there too.
std::FILE* OpenFile(const std::string& utf8Path, const char* mode);
// A file that OpenFile opened, closed when its owner goes.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;
std::filesystem::path PathFromUtf8(const std::string& utf8Path);
// Puts the file `replacement` in the place of `path` in one step: `path` names
// either its old file or the new one, never neither. A zero error code, or why not.
std::error_code ReplaceFile(const std::string& replacement, const std::string& path);
// Whether two paths name the same file, links resolved (false if either is missing).
inline bool SameFile(const std::string& left, const std::string& right) {
    std::error_code error;
    return std::filesystem::equivalent(PathFromUtf8(left), PathFromUtf8(right), error) && !error;
}
// The way back: a path as UTF-8 text, whatever the system's own encoding.
inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

}  // namespace kestrel
