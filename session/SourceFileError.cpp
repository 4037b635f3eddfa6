#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/FileOpen.h"
#include "base/SystemErrorText.h"
#include "session/SourceFile.h"

namespace kestrel {

int NotRegularFileError(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(PathFromUtf8(path), error);
    if (error || std::filesystem::is_regular_file(status)) {
        return 0;
    }
    return std::filesystem::is_directory(status) ? EISDIR : EINVAL;
}

std::string FileErrorText(int error) {
    return error == EINVAL ? "not a regular file (a FIFO, a device or a socket)" : SystemErrorText(error);
}

}  // namespace kestrel
