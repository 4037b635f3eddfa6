#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/SRecordWriter.h"
#include "support/TempDir.h"

namespace kestrel::testing {

// The firmware files the fault tests download, in a directory of their own.
struct FaultFirmware {
    using Bytes = std::vector<std::uint8_t>;
    static Bytes Image() {
        Bytes image(700);
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<std::uint8_t>(i * 7 + 3);
        return image;
    }

    TempDir dir;
    std::string mot =
        dir.Write("firmware.mot", WriteSRecordFile({{0xE0000, Bytes(300, 0x11)}, {0xF8000, Bytes(40, 0x22)}}));
    std::string bin = dir.Write("image.bin", Image());
    std::string misplaced = dir.Write("misplaced.mot", WriteSRecordFile({{0xE0100, Bytes(64, 0x33)}}));
    std::string missing = (dir.Path() / "missing.mot").string();
};

}  // namespace kestrel::testing
