#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "builders/OutputDataBin.h"

namespace kestrel {
namespace {

RecordList Records(std::initializer_list<std::uint32_t> lengths) {
    RecordList list;
    std::uint8_t next = 0;
    std::uint32_t address = 0x7000;  // not looked at: falling and arbitrary
    for (std::uint32_t length : lengths) {
        DataRecord record;
        record.address = address;
        address -= 0x100;
        record.length = length;
        for (std::uint32_t i = 0; i < length; ++i)
            record.data[i] = next++;
        if (length < DataRecord::kCapacity)
            record.data[length] = 0xEE;  // beyond the length: never copied
        list.append(record);
    }
    return list;
}

TEST(OutputDataBinTest, ConcatenatesTheRecordsInListOrderWithinTheCapacity) {
    struct Case {
        std::initializer_list<std::uint32_t> lengths;
        std::uint32_t total, capacity;
        int result;
    };
    for (const Case& c :
         {Case{{}, 0, 600, 0}, Case{{256, 256, 10}, 522, 600, 0}, Case{{3, 0, 1}, 4, 600, 0},
          Case{{256, 256, 10}, 522, 522, 0}, Case{{256, 256, 10}, 522, 521, OutputData::kImageTooLarge}}) {
        SCOPED_TRACE(::testing::Message() << c.total << " bytes into " << c.capacity);
        std::vector<std::uint8_t> image(600, 0xA5);
        std::uint32_t length = 12345;
        EXPECT_EQ(OutputDataBin().BuildOutput(Records(c.lengths), image.data(), length, c.capacity), c.result);
        if (c.result == 0) {
            ASSERT_EQ(length, c.total);
            for (std::uint32_t i = 0; i < c.total; ++i)
                ASSERT_EQ(image[i], static_cast<std::uint8_t>(i)) << i;
        }
        // Nothing past the image, nor past the capacity when it is refused.
        const std::uint32_t end = c.result == 0 ? c.total : c.capacity;
        EXPECT_TRUE(std::all_of(image.begin() + end, image.end(), [](auto b) { return b == 0xA5; }));
    }
}

}  // namespace
}  // namespace kestrel
