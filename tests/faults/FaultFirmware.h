#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/SRecordWriter.h"

namespace kestrel::testing {

// The firmware files the fault tests download, in a directory of their own
// that goes with them.
class FaultFirmware {
public:
    FaultFirmware() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-faults-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            directory_ = pattern;
        }
        mot = Write("firmware.mot", WriteSRecordFile({{0xE0000, Bytes(300, 0x11)}, {0xF8000, Bytes(40, 0x22)}}));
        std::string image(700, '\0');
        for (std::size_t i = 0; i < image.size(); ++i) {
            image[i] = static_cast<char>(i * 7 + 3);
        }
        bin = Write("image.bin", image);
        misplaced = Write("misplaced.mot", WriteSRecordFile({{0xE0100, Bytes(64, 0x33)}}));
        missing = (directory_ / "missing.mot").string();
    }
    ~FaultFirmware() {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
    FaultFirmware(const FaultFirmware&) = delete;
    FaultFirmware& operator=(const FaultFirmware&) = delete;

    std::string mot;
    std::string bin;
    std::string misplaced;
    std::string missing;

private:
    using Bytes = std::vector<std::uint8_t>;

    std::string Write(const std::string& name, const std::string& bytes) const {
        const auto path = directory_ / name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    std::filesystem::path directory_;
};

}  // namespace kestrel::testing
