#include "cli/ImageFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

namespace kestrel::cli {

std::string WriteFileWhole(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const std::string partial = path + ".partial-" + std::to_string(std::random_device{}());
    // "x": never through a file some other program put there.
    std::FILE* file = std::fopen(partial.c_str(), "wbx");
    if (file == nullptr) {
        return std::strerror(errno);
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
        std::filesystem::rename(partial, path, renamed);
    }
    if (error != 0 || renamed) {
        std::remove(partial.c_str());
        return error != 0 ? std::strerror(error) : renamed.message();
    }
    return {};
}

bool SameFile(const std::string& left, const std::string& right) {
    std::error_code error;
    return std::filesystem::equivalent(left, right, error) && !error;
}

}  // namespace kestrel::cli
