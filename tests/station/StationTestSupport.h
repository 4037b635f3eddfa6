#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "session/RecordingStatusList.h"
#include "station/JsonLines.h"
#include "station/Sha256.h"
#include "support/Firmware.h"
#include "support/SimulatedBox.h"
#include "support/TempDir.h"
#include "support/Text.h"

namespace kestrel::testing {

using Json = nlohmann::json;

// What a box that takes a .mot image reports, from the opening of its link on.
inline const Lines kFlashed = SplitLines(
    "Opening interface... \nWaiting for synchronising ... \nWriting datalength... \nErasing flash... \n"
    "Writing data... \nReading data... \nVerify data...\nFLASHING SUCCESSFULL");

// The hex digest of bytes or of a string's bytes.
template <typename Container>
std::string Sha256Of(const Container& bytes) {
    return Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Each line the tool wrote as a JSON object, read back by a parser of its own.
// A line that is not exactly one object fails the test.
inline std::vector<Json> ParseJsonLines(const Lines& lines) {
    std::vector<Json> objects;
    for (const auto& line : lines) {
        objects.push_back(Json::parse(line, nullptr, false));
        EXPECT_TRUE(objects.back().is_object()) << "not one JSON object: " << line;
    }
    return objects;
}

}  // namespace kestrel::testing
