#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kestrel::testing {

// A directory for one test, removed with its contents at the end.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-line-XXXXXX").string();
        if (char* made = ::mkdtemp(pattern.data())) path_ = made;
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string Path(const std::string& relative) const { return (path_ / relative).string(); }
    std::string Write(const std::string& relative, const std::string& text = "") const {
        std::filesystem::create_directories((path_ / relative).parent_path());
        std::ofstream(path_ / relative, std::ios::binary) << text;
        return Path(relative);
    }
    void Link(const std::string& relative, const std::string& target) const {
        std::filesystem::create_directories((path_ / relative).parent_path());
        std::filesystem::create_directory_symlink(target, path_ / relative);
    }

private:
    std::filesystem::path path_;
};

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kestrel::testing

#include "session/SessionTestFirmware.h"

namespace kestrel::testing {

// Firmware files for the line's tests and the images a box must receive from them.
struct LineFirmware {
    ScratchDir dir;
    std::string mot = dir.Write("firmware.mot", WriteSRecordFile(SampleBlocks()));
    Bytes motImage = SelfProgImage(SampleBlocks());
    std::string bin = dir.Write("image.bin", [] {
        const Bytes image = BinImage(500);
        return std::string(image.begin(), image.end());
    }());
    Bytes binImage = BinImage(500);
};

}  // namespace kestrel::testing
