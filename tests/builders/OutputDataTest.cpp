#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

#include "builders/OutputDataBin.h"
#include "builders/OutputDataSelfProg.h"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kImage = OutputDataSelfProg::kImageLength;
constexpr std::uint32_t kMargin = 64;
constexpr std::uint8_t kGuard = 0xA5;

// A record of `length` bytes first, first + 1, ... at `address`.
struct Placed {
    std::uint32_t address, length;
    std::uint8_t first;
};

// Builds between guard bytes, so that a write before the image, or past what
// it built (past the capacity when refused), shows. A record's zeros beyond
// its length, copied, would show as well.
struct Build {
    Build(OutputData&& builder, const std::vector<Placed>& placed, std::uint32_t capacity = kImage) {
        RecordList records;
        for (const Placed& p : placed) {
            DataRecord record;
            record.address = p.address;
            record.length = p.length;
            std::iota(record.data.begin(), record.data.begin() + p.length, p.first);
            records.append(record);
        }
        Bytes buffer(kMargin + kImage + kMargin, kGuard);
        result = builder.BuildOutput(records, buffer.data() + kMargin, length, capacity);
        const auto guard = [](std::uint8_t b) { return b == kGuard; };
        const std::uint32_t built = result == 0 ? length : capacity;
        guardsIntact = std::all_of(buffer.begin(), buffer.begin() + kMargin, guard) &&
                       std::all_of(buffer.begin() + kMargin + built, buffer.end(), guard);
        image.assign(buffer.begin() + kMargin, buffer.begin() + kMargin + kImage);
    }
    Bytes image;
    std::uint32_t length = 12345;
    int result = 99;
    bool guardsIntact = false;
};

// Addresses are not looked at: falling and arbitrary here.
TEST(OutputDataBin, ConcatenatesTheRecordsInListOrderWithinTheCapacity) {
    const std::vector<Placed> full = {{0x7000, 256, 0x00}, {0x6F00, 256, 0x40}, {0x12, 10, 0x80}};
    struct Case {
        std::vector<Placed> records;
        std::uint32_t capacity;
        int result;
    };
    for (const Case& c : {Case{{}, 600, 0}, Case{full, 600, 0}, Case{{{5, 3, 1}, {9, 0, 7}, {1, 1, 9}}, 600, 0},
                          Case{full, 522, 0}, Case{full, 521, OutputData::kImageTooLarge}}) {
        SCOPED_TRACE(::testing::Message() << c.records.size() << " records into " << c.capacity);
        Bytes expected;
        for (const Placed& p : c.records)
            for (std::uint32_t i = 0; i < p.length; ++i)
                expected.push_back(static_cast<std::uint8_t>(p.first + i));
        const Build b(OutputDataBin(), c.records, c.capacity);
        EXPECT_EQ(b.result, c.result);
        EXPECT_TRUE(b.guardsIntact);
        if (c.result == 0) {
            EXPECT_EQ(b.length, expected.size());
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), b.image.begin()));
        }
    }
}

// The head, then 0xFF over the whole window, the records on top. A refusal
// leaves `kept` leading bytes as they would be without the refused records.
TEST(OutputDataSelfProg, RecordsLandAtTheirWindowOffsetsLaterOnTopAndRefusalsKeepWithinTheImage) {
    struct Case {
        std::vector<Placed> records;
        int result = 0;
        std::uint32_t kept = kImage;
        std::uint32_t capacity = kImage;
    };
    // Where records land, later ones on top, is the round-trip property's (RoundTripPropertyTest).
    std::vector<Case> cases = {{{}}, {{{0xE0000, 4, 0x01}}, OutputData::kImageTooLarge, 0, kImage - 1}};
    for (std::uint32_t address : {0xE0001U, 0xDFFFFU, 0x0U, 0xF0000U})
        cases.push_back({{{address, 16, 0x33}, {0xE0000, 4, 0x44}}, OutputData::kStartAddressWrong});
    // Outside the window, also where 32 bits would wrap into it.
    for (const auto& [address, length] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
             {0xDFFFF, 1}, {0xDFFF0, 32}, {0x0, 16}, {0xFFFF1, 16}, {0x100000, 1}, {0xFFFFFF, 256}, {0xFFFFFFF0, 32}})
        cases.push_back({{{0xE0000, 1, 0x01}, {address, length, 0x20}}, OutputData::kAddressOutsideWindow, 6});
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.records.size() << " records, the last at "
                                          << (c.records.empty() ? 0 : c.records.back().address));
        Bytes expected = {0x00, 0x01, 0x00, 0x02, 0x00, 0x00};
        expected.resize(kImage, 0xFF);
        const Build b(OutputDataSelfProg(), c.records, c.capacity);
        EXPECT_EQ(b.result, c.result);
        EXPECT_TRUE(b.guardsIntact);
        EXPECT_TRUE(std::equal(b.image.begin(), b.image.begin() + c.kept, expected.begin()));
        EXPECT_TRUE(c.result != 0 || b.length == kImage);
    }
}

}  // namespace
}  // namespace kestrel
