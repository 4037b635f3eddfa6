#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "readers/ExtractDataMOT.h"
#include "support/SRecordWriter.h"

namespace kestrel {
namespace {

using testing::S2Line;
using testing::SRecordStyle;
using Bytes = std::vector<std::uint8_t>;

struct Reading {
    int result = 0;
    RecordList records;
    ExtractFailure failure;
};

Reading Read(const std::string& text) {
    Reading reading;
    // Exactly the text's bytes, no terminator behind them.
    const Bytes source(text.begin(), text.end());
    reading.result = ExtractDataMOT().extract(source.data(), reading.records,
                                              static_cast<std::uint32_t>(source.size()), &reading.failure);
    return reading;
}

Bytes Data(const DataRecord& record) { return Bytes(record.data.begin(), record.data.begin() + record.length); }

const std::string kS0 = "S00600004844521B\r\n";
const std::string kS5 = "S5030002FA\r\n";
const std::string kS8 = "S804000000FB\r\n";

TEST(HexPairToByteTest, DigitsOfEitherCase) {
    struct Case {
        char high, low;
        std::uint8_t value;
    };
    for (const Case& c : {Case{'0', '0', 0x00}, Case{'9', '9', 0x99}, Case{'1', 'F', 0x1F}, Case{'1', 'f', 0x1F},
                          Case{'A', 'b', 0xAB}, Case{'f', 'F', 0xFF}, Case{'c', '3', 0xC3}, Case{' ', '5', 0x05}}) {
        EXPECT_EQ(hexPairToByte(c.high, c.low), c.value) << c.high << c.low;
    }
}

TEST(ExtractDataMOTTest, TypicalFileGivesItsRecordsInFileOrder) {
    const auto r = Read(kS0 + S2Line(0xE0010, {1, 2, 3}) + S2Line(0xE0000, {0xAA, 0x55}) + kS5 + kS8);
    EXPECT_EQ(r.result, 5);
    EXPECT_EQ(r.failure.kind, ExtractFailure::Kind::None);
    ASSERT_EQ(r.records.size(), 2U);
    EXPECT_EQ(r.records.at(0).address, 0xE0010U);
    EXPECT_EQ(Data(r.records.at(0)), (Bytes{1, 2, 3}));
    EXPECT_EQ(r.records.at(1).address, 0xE0000U);
    EXPECT_EQ(Data(r.records.at(1)), (Bytes{0xAA, 0x55}));
}

TEST(ExtractDataMOTTest, ByteCountDecidesTheLength) {
    Bytes sixteen(16);
    for (std::size_t i = 0; i < sixteen.size(); ++i) sixteen[i] = static_cast<std::uint8_t>(0xF0 + i);
    const auto r = Read(S2Line(0x123456, sixteen) + S2Line(0xFFFFFF, {}) + S2Line(0xE0000, Bytes(251, 0x5A)));
    EXPECT_EQ(r.result, 3);
    ASSERT_EQ(r.records.size(), 3U);
    EXPECT_EQ(r.records.at(0).address, 0x123456U);
    EXPECT_EQ(Data(r.records.at(0)), sixteen);
    // Byte count 04: no data, still a record.
    EXPECT_EQ(r.records.at(1).address, 0xFFFFFFU);
    EXPECT_EQ(r.records.at(1).length, 0U);
    // Byte count FF: the longest line, 514 characters.
    EXPECT_EQ(r.records.at(2).length, 251U);
    EXPECT_EQ(Data(r.records.at(2)), Bytes(251, 0x5A));
}

TEST(ExtractDataMOTTest, ChecksumAndTrailingCharactersAreNotLookedAt) {
    const Bytes expected{0x11, 0x22, 0x33, 0x44};
    for (const std::string& line : {std::string("S2080E0000112233449F\r\n"), std::string("S2080E000011223344ZZ\r\n"),
                                    std::string("S2080E00001122334400 trailing\r\n")}) {
        const auto r = Read(line);
        EXPECT_EQ(r.result, 1) << line;
        ASSERT_EQ(r.records.size(), 1U) << line;
        EXPECT_EQ(r.records.at(0).address, 0xE0000U);
        EXPECT_EQ(Data(r.records.at(0)), expected) << line;
    }
}

TEST(ExtractDataMOTTest, LowerCaseHexReadsAsUpperCase) {
    const Bytes data{0xAB, 0xCD, 0xEF, 0x0F};
    const auto upper = Read(S2Line(0xABCDEF, data));
    const auto lower = Read(S2Line(0xABCDEF, data, SRecordStyle{.lowerCase = true}));
    ASSERT_EQ(lower.records.size(), 1U);
    EXPECT_EQ(lower.records.at(0).address, upper.records.at(0).address);
    EXPECT_EQ(Data(lower.records.at(0)), data);
}

TEST(ExtractDataMOTTest, ContiguousAndOverlappingLinesStaySeparate) {
    const auto r = Read(S2Line(0xE0000, {1, 2}) + S2Line(0xE0002, {3, 4}) + S2Line(0xE0001, {9}));
    ASSERT_EQ(r.records.size(), 3U);
    EXPECT_EQ(r.records.at(1).address, 0xE0002U);
    EXPECT_EQ(Data(r.records.at(1)), (Bytes{3, 4}));
    EXPECT_EQ(r.records.at(2).address, 0xE0001U);
}

TEST(ExtractDataMOTTest, NothingAfterTheEndLineIsReadOrCounted) {
    const auto r = Read(kS0 + S2Line(0xE0000, {1}) + kS8 + S2Line(0xE0001, {2}) + "S9030000FC\r\ngarbage");
    EXPECT_EQ(r.result, 3);
    EXPECT_EQ(r.records.size(), 1U);
    EXPECT_EQ(r.failure.kind, ExtractFailure::Kind::None);
}

TEST(ExtractDataMOTTest, ReadsOnlyUpToTheGivenLength) {
    const std::string text = S2Line(0xE0000, {1}) + "S9030000FC\r\n";
    const Bytes source(text.begin(), text.end());
    RecordList records;
    const auto firstLine = static_cast<std::uint32_t>(text.find('\n') + 1);
    EXPECT_EQ(ExtractDataMOT().extract(source.data(), records, firstLine), 1);
    EXPECT_EQ(records.size(), 1U);
}

TEST(ExtractDataMOTTest, EmptySourceGivesNothing) {
    const auto r = Read("");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.records.size(), 0U);
}

// Line ends other than CR LF, blank lines and a last line without an end.
TEST(ExtractDataMOTTest, LineEndsAndBlankLines) {
    const Bytes data{0xDE, 0xAD};
    struct Case {
        const char* name;
        std::string text;
        int lines;
        std::size_t records;
    };
    const std::string lf = S2Line(0xE0000, data, SRecordStyle{.lineEnd = "\n"});
    const std::string crlf = S2Line(0xE0000, data);
    const std::string bare = crlf.substr(0, crlf.size() - 2);
    for (const Case& c : {
             Case{"LF only", lf + lf + "S804000000FB\n", 3, 2},
             Case{"no end on the last line", crlf + bare, 2, 2},
             Case{"LF and no end on the last line", lf + bare, 2, 2},
             Case{"blank lines counted", "\r\n" + crlf + "\r\n\r\n" + crlf, 5, 2},
             Case{"blank LF lines counted", "\n" + lf + "\n" + lf, 4, 2},
             Case{"mixed line ends", crlf + lf + crlf, 3, 3},
         }) {
        const auto r = Read(c.text);
        EXPECT_EQ(r.result, c.lines) << c.name;
        EXPECT_EQ(r.failure.kind, ExtractFailure::Kind::None) << c.name;
        ASSERT_EQ(r.records.size(), c.records) << c.name;
        for (std::size_t i = 0; i < r.records.size(); ++i) {
            EXPECT_EQ(Data(r.records.at(i)), data) << c.name << " record " << i;
        }
    }
}

TEST(ExtractDataMOTTest, RefusedLinesNameTheirKindAndLine) {
    using Kind = ExtractFailure::Kind;
    const std::string good = S2Line(0xE0000, {1, 2, 3, 4});  // "S2080E0000" + 4 bytes + checksum: 20 characters
    const std::string noChecksum = good.substr(0, 18) + "\r\n";
    struct Case {
        const char* name;
        std::string text;
        int result;
        Kind kind;
        std::uint32_t line;
    };
    for (const Case& c : {
             Case{"S1", kS0 + good + "S1030000FC\r\n", ExtractData::kUnsupportedRecordType, Kind::UnsupportedRecordType, 3},
             Case{"S3", "S30500E000001A\r\n", ExtractData::kUnsupportedRecordType, Kind::UnsupportedRecordType, 1},
             Case{"S7", good + "S70500000000FA\r\n", ExtractData::kUnsupportedRecordType, Kind::UnsupportedRecordType, 2},
             Case{"S9", good + good + "S9030000FC\r\n", ExtractData::kUnsupportedRecordType, Kind::UnsupportedRecordType, 3},
             Case{"not a digit", "SX0300\r\n", ExtractData::kUnsupportedRecordType, Kind::UnsupportedRecordType, 1},
             Case{"after blank lines", "\r\n\n" + good + "S4030000FC\n", ExtractData::kUnsupportedRecordType,
                  Kind::UnsupportedRecordType, 4},
             Case{"S2 without its checksum", good + noChecksum, ExtractData::kMalformedRecord, Kind::MalformedRecord, 2},
             Case{"S2 cut in its data", "S2080E00001122\r\n", ExtractData::kMalformedRecord, Kind::MalformedRecord, 1},
             Case{"S2 last line cut", good + "S2080E0000112233", ExtractData::kMalformedRecord, Kind::MalformedRecord, 2},
             Case{"S2 byte count 03", "S2030E0000EE\r\n", ExtractData::kMalformedRecord, Kind::MalformedRecord, 1},
             Case{"S2 byte count 00", "S2000E0000EE\r\n", ExtractData::kMalformedRecord, Kind::MalformedRecord, 1},
             Case{"S2 without a count", "S2\r\n", ExtractData::kMalformedRecord, Kind::MalformedRecord, 1},
             Case{"one character", good + "S\r\n", ExtractData::kMalformedRecord, Kind::MalformedRecord, 2},
             Case{"515 characters", good + "S0" + std::string(513, '0') + "\r\n", ExtractData::kMalformedRecord,
                  Kind::MalformedRecord, 2},
         }) {
        const auto r = Read(c.text);
        EXPECT_EQ(r.result, c.result) << c.name;
        EXPECT_EQ(r.failure.kind, c.kind) << c.name;
        EXPECT_EQ(r.failure.line, c.line) << c.name;
    }
}

TEST(ExtractDataMOTTest, LongestLinesAreAccepted) {
    // 514 characters, as "S2" with byte count 255; an S0 line of that length as well.
    const std::string longest = S2Line(0xE0000, Bytes(251, 0x01));
    ASSERT_EQ(longest.size(), 516U);
    const auto r = Read(longest + "S0" + std::string(512, '0') + "\r\n" + kS8);
    EXPECT_EQ(r.result, 3);
    EXPECT_EQ(r.failure.kind, ExtractFailure::Kind::None);
    EXPECT_EQ(r.records.size(), 1U);
}

}  // namespace
}  // namespace kestrel
