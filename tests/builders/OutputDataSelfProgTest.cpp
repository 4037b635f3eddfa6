#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "builders/OutputDataSelfProg.h"

namespace kestrel {
namespace {

constexpr std::uint32_t kImage = OutputDataSelfProg::kImageLength;
constexpr std::uint32_t kHead = OutputDataSelfProg::kHeadLength;
constexpr std::uint8_t kGuard = 0xA5;
constexpr std::uint32_t kMargin = 64;

DataRecord Record(std::uint32_t address, std::uint32_t length, std::uint8_t first) {
    DataRecord record;
    record.address = address;
    record.length = length;
    for (std::uint32_t i = 0; i < length; ++i) record.data[i] = static_cast<std::uint8_t>(first + i);
    return record;
}

RecordList List(std::initializer_list<DataRecord> records) {
    RecordList list;
    for (const auto& record : records) list.append(record);
    return list;
}

// The image between guard bytes, so that a write before or past it shows.
struct Build {
    explicit Build(const RecordList& records, std::uint32_t capacity = kImage)
        : buffer(kMargin + capacity + kMargin, kGuard) {
        result = OutputDataSelfProg().BuildOutput(records, Image(), length, capacity);
        capacity_ = capacity;
    }
    std::uint8_t* Image() { return buffer.data() + kMargin; }
    std::uint8_t At(std::uint32_t offset) { return Image()[offset]; }
    bool GuardsIntact() const {
        const auto guard = [](std::uint8_t b) { return b == kGuard; };
        return std::all_of(buffer.begin(), buffer.begin() + kMargin, guard) &&
               std::all_of(buffer.begin() + kMargin + capacity_, buffer.end(), guard);
    }
    // Bytes [from, to) of the image are all `value`.
    bool All(std::uint32_t from, std::uint32_t to, std::uint8_t value) {
        return std::all_of(Image() + from, Image() + to, [value](std::uint8_t b) { return b == value; });
    }
    bool HeadAndFill() {
        const std::vector<std::uint8_t> head(Image(), Image() + kHead);
        return head == std::vector<std::uint8_t>{0x00, 0x01, 0x00, 0x02, 0x00, 0x00} && length == kImage;
    }

    std::vector<std::uint8_t> buffer;
    std::uint32_t length = 0;
    std::uint32_t capacity_ = 0;
    int result = 99;
};

TEST(OutputDataSelfProgTest, EmptyListGivesHeadAndFill) {
    Build b(RecordList{});
    EXPECT_EQ(b.result, 0);
    EXPECT_TRUE(b.HeadAndFill());
    EXPECT_TRUE(b.All(kHead, kImage, 0xFF));
    EXPECT_TRUE(b.GuardsIntact());
    const std::uint32_t announced = (b.At(2) << 24) | (b.At(3) << 16) | (b.At(4) << 8) | b.At(5);
    EXPECT_EQ(announced, 131072U);
}

TEST(OutputDataSelfProgTest, RecordsLandAtTheirWindowOffsets) {
    Build b(List({Record(0xE0000, 16, 0x10), Record(0xF0000, 3, 0x40), Record(0xFFFF0, 16, 0x80)}));
    ASSERT_EQ(b.result, 0);
    EXPECT_TRUE(b.HeadAndFill());
    EXPECT_EQ(b.At(6), 0x10);
    EXPECT_EQ(b.At(21), 0x1F);
    EXPECT_TRUE(b.All(22, 0x10006, 0xFF));
    EXPECT_EQ(b.At(0x10006), 0x40);
    EXPECT_EQ(b.At(0x10008), 0x42);
    EXPECT_TRUE(b.All(0x10009, 131062, 0xFF));
    EXPECT_EQ(b.At(131062), 0x80);
    EXPECT_EQ(b.At(131077), 0x8F);
    EXPECT_TRUE(b.GuardsIntact());
}

TEST(OutputDataSelfProgTest, LaterRecordOverwritesEarlier) {
    // The second record also writes 0xE0000 itself; the third falls back below the second.
    Build b(List({Record(0xE0000, 8, 0x00), Record(0xE0000, 2, 0x70), Record(0xE0004, 1, 0x90)}));
    ASSERT_EQ(b.result, 0);
    const std::vector<std::uint8_t> window(b.Image() + kHead, b.Image() + kHead + 9);
    EXPECT_EQ(window, (std::vector<std::uint8_t>{0x70, 0x71, 0x02, 0x03, 0x90, 0x05, 0x06, 0x07, 0xFF}));
}

TEST(OutputDataSelfProgTest, FirstRecordMustStartTheWindow) {
    for (std::uint32_t address : {0xE0001U, 0xDFFFFU, 0x0U, 0xF0000U}) {
        Build b(List({Record(address, 16, 0x33), Record(0xE0000, 4, 0x44)}));
        EXPECT_EQ(b.result, OutputData::kStartAddressWrong) << std::hex << address;
        EXPECT_TRUE(b.HeadAndFill()) << std::hex << address;
        EXPECT_TRUE(b.All(kHead, kImage, 0xFF)) << "no record placed for " << std::hex << address;
        EXPECT_TRUE(b.GuardsIntact());
    }
}

TEST(OutputDataSelfProgTest, LaterRecordOutsideTheWindowIsRefused) {
    struct Case {
        std::uint32_t address, length;
    };
    for (const Case& c : {Case{0xDFFFF, 1}, Case{0xDFFF0, 32}, Case{0x0, 16}, Case{0xFFFF1, 16}, Case{0x100000, 1},
                          Case{0xFFFFFF, 256}, Case{0xFFFFFFF0, 32}}) {
        Build b(List({Record(0xE0000, 1, 0x01), Record(c.address, c.length, 0x20)}));
        EXPECT_EQ(b.result, OutputData::kAddressOutsideWindow) << std::hex << c.address << "+" << c.length;
        EXPECT_TRUE(b.GuardsIntact()) << std::hex << c.address << "+" << c.length;
        EXPECT_EQ(b.At(0), 0x00);
        EXPECT_EQ(b.At(1), 0x01) << "the head is not overwritten";
    }
    // The last byte of the window is still inside.
    Build edge(List({Record(0xE0000, 1, 0x01), Record(0xFFFFF, 1, 0x20)}));
    EXPECT_EQ(edge.result, 0);
    EXPECT_EQ(edge.At(kImage - 1), 0x20);
}

TEST(OutputDataSelfProgTest, ImageMustFitTheCapacity) {
    Build tooSmall(List({Record(0xE0000, 4, 0x01)}), kImage - 1);
    EXPECT_EQ(tooSmall.result, OutputData::kImageTooLarge);
    EXPECT_TRUE(tooSmall.GuardsIntact());
    Build exact(List({Record(0xE0000, 4, 0x01)}), kImage);
    EXPECT_EQ(exact.result, 0);
}

}  // namespace
}  // namespace kestrel
