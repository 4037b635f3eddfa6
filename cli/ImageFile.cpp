#include "cli/ImageFile.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/FileOpen.h"
#include "base/SystemErrorText.h"

namespace kestrel::cli {

std::string WriteFileWhole(const std::string& path, const std::uint8_t* data, std::size_t size) {
    // Any name no other writer is using will do, and "x" below refuses one that is
    // taken. The clock, not std::random_device: asking the processor for entropy
    // costs more than reading the whole firmware file on a virtual machine.
    const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string partial = path + ".partial-" + std::to_string(tick);
    // "x": never through a file some other program put there.
    std::FILE* file = OpenFile(partial, "wbx");
    if (file == nullptr) {
        return SystemErrorText(errno);
    }
    int error = 0;
    if (std::fwrite(data, 1, size, file) != size || std::fflush(file) != 0) {
        error = errno;
    }
    if (std::fclose(file) != 0 && error == 0) {
        error = errno;
    }
    std::error_code renamed;
    if (error == 0) {
        renamed = ReplaceFile(partial, path);
    }
    if (error != 0 || renamed) {
        std::error_code ignored;
        std::filesystem::remove(PathFromUtf8(partial), ignored);
        return error != 0 ? SystemErrorText(error) : renamed.message();
    }
    return {};
}

}  // namespace kestrel::cli
