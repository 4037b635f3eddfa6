#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "builders/OutputDataSelfProg.h"
#include "readers/ExtractDataMOT.h"
#include "support/SRecordWriter.h"

// Random firmware written as S-records and read back: the reader and the builder
// together must lay out exactly what a plain fill of the window gives.
namespace kestrel {
namespace {

using testing::FirmwareBlock;
using testing::SRecordStyle;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kWindowStart = 0xE0000;
constexpr std::uint32_t kWindowEnd = 0x100000;
constexpr std::size_t kImageLength = 6 + (kWindowEnd - kWindowStart);

struct Firmware {
    std::vector<FirmwareBlock> blocks;
    std::size_t bytesPerLine;
    SRecordStyle style;
};

// Blocks at random places in the window, the first at its start; they may
// overlap, and may be as short as one byte or reach the window's last byte.
Firmware RandomFirmware(std::mt19937& random) {
    auto pick = [&random](std::uint32_t low, std::uint32_t high) {
        return std::uniform_int_distribution<std::uint32_t>(low, high)(random);
    };
    Firmware firmware;
    const std::uint32_t count = pick(1, 12);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t length = pick(1, pick(0, 3) == 0 ? 4000 : 300);
        std::uint32_t address = i == 0 ? kWindowStart : pick(kWindowStart, kWindowEnd - length);
        if (i > 0 && pick(0, 9) == 0) {
            address = kWindowEnd - length;  // up to the last byte of the window
        }
        FirmwareBlock block{address, Bytes(length)};
        for (auto& byte : block.bytes)
            byte = static_cast<std::uint8_t>(pick(0, 255));
        firmware.blocks.push_back(std::move(block));
    }
    // 251 data bytes fill an S2 line's byte count of 255.
    firmware.bytesPerLine = pick(0, 2) == 0 ? 251 : pick(1, 64);
    firmware.style.lowerCase = pick(0, 1) == 1;
    firmware.style.lineEnd = pick(0, 3) == 0 ? "\n" : "\r\n";
    return firmware;
}

// The image by a plain fill: head, 0xFF, then each block where it belongs, later ones on top.
Bytes ReferenceImage(const std::vector<FirmwareBlock>& blocks) {
    Bytes image = {0x00, 0x01, 0x00, 0x02, 0x00, 0x00};
    image.resize(kImageLength, 0xFF);
    for (const auto& block : blocks) {
        std::copy(block.bytes.begin(), block.bytes.end(), image.begin() + 6 + (block.address - kWindowStart));
    }
    return image;
}

TEST(RoundTripProperty, RandomFirmwareReadsLineByLineAndBuildsToThePlainFill) {
    Bytes image(kImageLength);
    for (std::uint32_t seed = 1; seed <= 1500; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        const Firmware firmware = RandomFirmware(random);
        const std::string text = testing::WriteSRecordFile(firmware.blocks, firmware.bytesPerLine, firmware.style);

        RecordList records;
        ExtractFailure failure;
        const int lines = ExtractDataMOT().extract(reinterpret_cast<const std::uint8_t*>(text.data()), records,
                                                   static_cast<std::uint32_t>(text.size()), &failure);
        ASSERT_EQ(failure.kind, ExtractFailure::Kind::None) << "failed at line " << failure.line;
        // Each data line comes back as one record with its address and its bytes, in file order.
        std::size_t index = 0;
        for (const auto& block : firmware.blocks) {
            for (std::size_t at = 0; at < block.bytes.size(); at += firmware.bytesPerLine, ++index) {
                ASSERT_LT(index, records.size());
                const DataRecord& record = records.at(index);
                ASSERT_EQ(record.address, block.address + at);
                ASSERT_EQ(record.length, std::min(firmware.bytesPerLine, block.bytes.size() - at));
                ASSERT_TRUE(std::equal(record.data.begin(), record.data.begin() + record.length,
                                       block.bytes.begin() + static_cast<std::ptrdiff_t>(at)));
            }
        }
        ASSERT_EQ(records.size(), index);
        ASSERT_EQ(lines, static_cast<int>(index + 3)) << "S0, the data lines, S5 and S8";

        std::fill(image.begin(), image.end(), 0x00);
        std::uint32_t length = 0;
        ASSERT_EQ(OutputDataSelfProg().BuildOutput(records, image.data(), length, kImageLength), 0);
        ASSERT_EQ(length, kImageLength);
        ASSERT_TRUE(image == ReferenceImage(firmware.blocks));
    }
}

}  // namespace
}  // namespace kestrel
