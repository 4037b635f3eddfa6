#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

#include "builders/OutputDataSelfProg.h"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kImage = OutputDataSelfProg::kImageLength;
constexpr std::uint32_t kMargin = 64;
constexpr std::uint8_t kGuard = 0xA5;

struct Placed {
    std::uint32_t address, length;
    std::uint8_t first;
};  // data: first, first + 1, ...

// The head, then 0xFF over the whole window.
const Bytes kHeadAndFill = [] {
    Bytes image = {0x00, 0x01, 0x00, 0x02, 0x00, 0x00};
    image.resize(kImage, 0xFF);
    return image;
}();

Bytes Ascending(std::uint8_t first, std::size_t count) {
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// Builds between guard bytes, so that a write before the image or past its capacity shows.
struct Build {
    explicit Build(const std::vector<Placed>& placed, std::uint32_t capacity = kImage) {
        RecordList records;
        for (const Placed& p : placed) {
            DataRecord record;
            record.address = p.address;
            record.length = p.length;
            for (std::uint32_t i = 0; i < p.length; ++i)
                record.data[i] = static_cast<std::uint8_t>(p.first + i);
            records.append(record);
        }
        Bytes buffer(kMargin + kImage + kMargin, kGuard);
        result = OutputDataSelfProg().BuildOutput(records, buffer.data() + kMargin, length, capacity);
        const auto guard = [](std::uint8_t b) { return b == kGuard; };
        guardsIntact = std::all_of(buffer.begin(), buffer.begin() + kMargin, guard) &&
                       std::all_of(buffer.begin() + kMargin + capacity, buffer.end(), guard);
        image.assign(buffer.begin() + kMargin, buffer.begin() + kMargin + kImage);
    }
    Bytes image;
    std::uint32_t length = 0;
    int result = 99;
    bool guardsIntact = false;
};

TEST(OutputDataSelfProgTest, RecordsLandAtTheirWindowOffsetsLaterOnTop) {
    struct Case {
        const char* name;
        std::vector<Placed> records;
        std::vector<std::pair<std::uint32_t, Bytes>> at;
    };
    for (const Case& c : {
             Case{"empty list", {}, {}},
             // The last record ends on the window's last byte.
             Case{"window edges",
                  {{0xE0000, 16, 0x10}, {0xF0000, 3, 0x40}, {0xFFFF0, 16, 0x80}},
                  {{6, Ascending(0x10, 16)}, {0x10006, {0x40, 0x41, 0x42}}, {131062, Ascending(0x80, 16)}}},
             // The second record also writes 0xE0000 itself; the third falls back below the second.
             Case{"later wins",
                  {{0xE0000, 8, 0x00}, {0xE0000, 2, 0x70}, {0xE0004, 1, 0x90}},
                  {{6, {0x70, 0x71, 0x02, 0x03, 0x90, 0x05, 0x06, 0x07}}}},
         }) {
        SCOPED_TRACE(c.name);
        Bytes expected = kHeadAndFill;
        for (const auto& [offset, bytes] : c.at)
            std::copy(bytes.begin(), bytes.end(), expected.begin() + offset);
        const Build b(c.records);
        EXPECT_EQ(b.result, 0);
        EXPECT_EQ(b.length, kImage);
        EXPECT_TRUE(b.guardsIntact);
        EXPECT_TRUE(b.image == expected);
    }
}

TEST(OutputDataSelfProgTest, RefusalsKeepWithinTheImage) {
    // `kept`: how many leading bytes must still be head and fill.
    struct Case {
        std::vector<Placed> records;
        int result;
        std::uint32_t kept;
        std::uint32_t capacity = kImage;
    };
    std::vector<Case> cases;
    for (std::uint32_t address : {0xE0001U, 0xDFFFFU, 0x0U, 0xF0000U})
        cases.push_back({{{address, 16, 0x33}, {0xE0000, 4, 0x44}}, OutputData::kStartAddressWrong, kImage});
    for (const auto& [address, length] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
             {0xDFFFF, 1}, {0xDFFF0, 32}, {0x0, 16}, {0xFFFF1, 16}, {0x100000, 1}, {0xFFFFFF, 256}, {0xFFFFFFF0, 32}})
        cases.push_back({{{0xE0000, 1, 0x01}, {address, length, 0x20}}, OutputData::kAddressOutsideWindow, 6});
    cases.push_back({{{0xE0000, 4, 0x01}}, OutputData::kImageTooLarge, 0, kImage - 1});
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.records.back().address << "+" << c.records.back().length);
        const Build b(c.records, c.capacity);
        EXPECT_EQ(b.result, c.result);
        EXPECT_TRUE(b.guardsIntact);
        EXPECT_TRUE(std::equal(b.image.begin(), b.image.begin() + c.kept, kHeadAndFill.begin()));
    }
}

}  // namespace
}  // namespace kestrel
