#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "builders/OutputDataSelfProg.h"
#include "readers/ExtractDataMOT.h"
#include "support/Firmware.h"

// Random firmware written as S-records and read back: the reader and the builder
// together must lay out exactly what a plain fill of the window gives.
namespace kestrel::testing {
namespace {

constexpr std::uint32_t kWindowEnd = 0x100000;

TEST(RoundTripProperty, RandomFirmwareReadsLineByLineAndBuildsToThePlainFill) {
    Bytes image(6 + kWindowEnd - kWindowStart);
    for (std::uint32_t seed = 1; seed <= 1500; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        const auto pick = [&random](std::uint32_t low, std::uint32_t high) {
            return std::uniform_int_distribution<std::uint32_t>(low, high)(random);
        };
        // Blocks at random places, the first at the window's start, others up to
        // its last byte; they may overlap and be as short as one byte.
        std::vector<FirmwareBlock> blocks(pick(1, 12));
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const std::uint32_t length = pick(1, pick(0, 3) == 0 ? 4000 : 300);
            const std::uint32_t address = pick(kWindowStart, kWindowEnd - length);
            blocks[i] = {i == 0 ? kWindowStart : pick(0, 9) == 0 ? kWindowEnd - length : address, Bytes(length)};
            std::generate(blocks[i].bytes.begin(), blocks[i].bytes.end(), [&] { return pick(0, 255); });
        }
        // 251 data bytes fill an S2 line's byte count of 255.
        const std::size_t perLine = pick(0, 2) == 0 ? 251 : pick(1, 64);
        const SRecordStyle style{.lowerCase = pick(0, 1) == 1, .lineEnd = pick(0, 3) == 0 ? "\n" : "\r\n"};
        const std::string text = WriteSRecordFile(blocks, perLine, style);

        RecordList records;
        ExtractFailure failure;
        const int lines = ExtractDataMOT().extract(reinterpret_cast<const std::uint8_t*>(text.data()), records,
                                                   static_cast<std::uint32_t>(text.size()), &failure);
        ASSERT_EQ(failure.kind, ExtractFailure::Kind::None) << "failed at line " << failure.line;
        // Each data line comes back as one record; where they land is the image's to show.
        std::size_t dataLines = 0;
        for (const auto& block : blocks)
            dataLines += (block.bytes.size() + perLine - 1) / perLine;
        ASSERT_EQ(records.size(), dataLines);
        ASSERT_EQ(lines, static_cast<int>(dataLines + 3)) << "S0, the data lines, S5 and S8";

        std::fill(image.begin(), image.end(), 0x00);
        std::uint32_t length = 0;
        ASSERT_EQ(OutputDataSelfProg().BuildOutput(records, image.data(), length, image.size()), 0);
        ASSERT_TRUE(Bytes(image.begin(), image.begin() + length) == SelfProgImage(blocks))
            << "the plain fill, later blocks on top";
    }
}

}  // namespace
}  // namespace kestrel::testing
