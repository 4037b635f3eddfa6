#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "readers/ExtractDataBin.h"

namespace kestrel {
namespace {

TEST(ExtractDataBinTest, CutsIntoRecordsOf256AddressedByOffset) {
    struct Case {
        std::uint32_t size;
        int records;
        std::uint32_t lastLength;
    };
    for (const Case& c : {Case{0, 0, 0}, Case{1, 1, 1}, Case{256, 1, 256}, Case{257, 2, 1}, Case{1000, 4, 232},
                          Case{229376, 896, 256}}) {
        SCOPED_TRACE(c.size);
        std::vector<std::uint8_t> source(c.size);
        // Line-end, zero and 0xFF bytes among the others: nothing is interpreted.
        for (std::uint32_t i = 0; i < c.size; ++i)
            source[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
        RecordList records;
        ExtractFailure failure;
        EXPECT_EQ(ExtractDataBin().extract(source.data(), records, c.size, &failure), c.records);
        EXPECT_EQ(failure.kind, ExtractFailure::Kind::None);
        ASSERT_EQ(records.size(), static_cast<std::size_t>(c.records));

        std::vector<std::uint8_t> joined;
        for (std::size_t r = 0; r < records.size(); ++r) {
            const auto& record = records.at(r);
            EXPECT_EQ(record.address, r * 256);
            EXPECT_EQ(record.length, r + 1 == records.size() ? c.lastLength : 256U);
            joined.insert(joined.end(), record.data.begin(), record.data.begin() + record.length);
        }
        EXPECT_EQ(joined, source);
    }
}

}  // namespace
}  // namespace kestrel
