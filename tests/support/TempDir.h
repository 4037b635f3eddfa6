#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace kestrel::testing {

// A fresh directory for one test's files, removed with everything in it at the end.
class TempDir {
public:
    // Made with a fresh random name: create_directory fails on a name that
    // exists, so no other process's directory is ever taken over.
    TempDir() {
        std::random_device random;
        std::error_code error;
        const auto base = std::filesystem::temp_directory_path(error);
        for (int attempt = 0; attempt < 100 && !error && path_.empty(); ++attempt) {
            const auto candidate = base / ("kestrel-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate, error))
                path_ = candidate;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    // Writes `bytes` (a std::string or a byte vector) to the file `name` in the directory and returns its path.
    template <class Bytes>
    std::string Write(const std::string& name, const Bytes& bytes) const {
        const auto file = path_ / name;
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return file.string();
    }

private:
    std::filesystem::path path_;
};

}  // namespace kestrel::testing
