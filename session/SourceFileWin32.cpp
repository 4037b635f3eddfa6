#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "base/FileOpen.h"
#include "session/SourceFile.h"

namespace kestrel {

SourceFileRead ReadSourceFile(const std::string& path, std::uint8_t* buffer, std::uint32_t capacity,
                              std::uint32_t& length, int& error) {
    // A device name (\\.\COM3, NUL) or a folder would open or block like a
    // file would not: only a regular file is firmware.
    std::error_code statusError;
    const auto status = std::filesystem::status(PathFromUtf8(path), statusError);
    if (statusError) {
        error = statusError.value() == static_cast<int>(std::errc::no_such_file_or_directory) ? ENOENT : EACCES;
        return SourceFileRead::CannotOpen;
    }
    if (!std::filesystem::is_regular_file(status)) {
        error = std::filesystem::is_directory(status) ? EISDIR : EINVAL;
        return SourceFileRead::CannotOpen;
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFile(path, "rb"), std::fclose);
    if (!file) {
        error = errno;
        return SourceFileRead::CannotOpen;
    }
    const std::size_t count = std::fread(buffer, 1, capacity, file.get());
    // One byte more than the buffer holds tells a file that does not fit.
    const bool tooLarge = count == capacity && std::fgetc(file.get()) != EOF;
    if (std::ferror(file.get()) != 0) {
        error = errno != 0 ? errno : EIO;
        return SourceFileRead::CannotOpen;
    }
    if (tooLarge) {
        return SourceFileRead::TooLarge;
    }
    length = static_cast<std::uint32_t>(count);
    return SourceFileRead::Read;
}

}  // namespace kestrel
