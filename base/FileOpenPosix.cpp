#include "base/FileOpen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestrel {

std::FILE* OpenFile(const std::string& utf8Path, const char* mode) { return std::fopen(utf8Path.c_str(), mode); }

std::filesystem::path PathFromUtf8(const std::string& utf8Path) { return std::filesystem::path(utf8Path); }

std::error_code ReplaceFile(const std::string& replacement, const std::string& path) {
    // Over an existing file the two names are swapped and the old file, now
    // under the new one's name, removed. ext4 answers a rename over a file by
    // writing the new one out at once, which costs more than building an image;
    // the swap is as atomic and leaves the writing to the system.
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
        ::renameat2(AT_FDCWD, replacement.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
        ::unlink(replacement.c_str());
        return {};
    }
    // No file there yet, or a file system that cannot swap.
    if (::rename(replacement.c_str(), path.c_str()) != 0)
        return {errno, std::generic_category()};
    return {};
}

}  // namespace kestrel
