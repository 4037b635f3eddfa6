#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kestrel::testing {

// A fresh directory for one test's files, removed with everything in it at the end.
class TempDir {
public:
    // mkdtemp takes a fresh name, so no other process's directory is ever taken over. Others may read and search
    // it, as a test that runs the tool as another user needs.
    TempDir() {
        std::error_code error;
        std::string name = (std::filesystem::temp_directory_path(error) / "kestrel-test-XXXXXX").string();
        if (!error && ::mkdtemp(name.data()) != nullptr && ::chmod(name.c_str(), 0755) == 0)
            path_ = name;
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
