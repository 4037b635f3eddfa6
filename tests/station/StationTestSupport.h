#pragma once

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "JsonCheck.h"
#include "session/RecordingStatusList.h"
#include "station/JsonLines.h"
#include "station/Sha256.h"
#include "support/Firmware.h"
#include "support/SimulatedBox.h"
#include "support/TempDir.h"

namespace kestrel::testing {

using Lines = std::vector<std::string>;

inline Lines SplitLines(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

inline std::string Sha256Of(const Bytes& bytes) { return Sha256Hex(bytes.data(), bytes.size()); }

}  // namespace kestrel::testing
