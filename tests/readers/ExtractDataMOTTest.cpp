#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "readers/ExtractDataMOT.h"
#include "readers/SRecordCheck.h"
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

// Exactly the text's bytes, no terminator behind them, of which the reader is given `length`.
Reading Read(const std::string& text, std::size_t length = std::string::npos) {
    const Bytes source(text.begin(), text.end());
    Reading r;
    r.result = ExtractDataMOT().extract(source.data(), r.records,
                                        static_cast<std::uint32_t>(std::min(length, source.size())), &r.failure);
    return r;
}

const std::string kS0 = "S00600004844521B\r\n";
const std::string kS5 = "S5030002FA\r\n";
const std::string kS8 = "S804000000FB\r\n";

TEST(HexPairToByteTest, DigitsOfEitherCaseOthersAsZero) {
    for (const auto& [pair, value] : std::vector<std::pair<std::string, int>>{
             {"00", 0x00}, {"99", 0x99}, {"1F", 0x1F}, {"1f", 0x1F}, {"Ab", 0xAB}, {"fF", 0xFF}, {" 5", 0x05}}) {
        EXPECT_EQ(hexPairToByte(pair[0], pair[1]), value) << pair;
    }
}

TEST(ExtractDataMOTTest, AcceptedFilesGiveTheirLineCountAndRecordsInFileOrder) {
    using Expected = std::pair<std::uint32_t, Bytes>;  // address and data
    const Bytes sixteen{0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
    const Bytes dead{0xDE, 0xAD};
    const auto deads = [&dead](std::size_t n) { return std::vector<Expected>(n, Expected{0xE0000, dead}); };
    const std::string lf = S2Line(0xE0000, dead, SRecordStyle{.lineEnd = "\n"});
    const std::string crlf = S2Line(0xE0000, dead);
    const std::string bare = crlf.substr(0, crlf.size() - 2);
    const std::string one = S2Line(0xE0000, {1});
    const Bytes four{0x11, 0x22, 0x33, 0x44};
    struct Case {
        const char* name;
        std::string text;
        int lines;
        std::vector<Expected> records;
        std::size_t length = std::string::npos;
    };
    const Case cases[] = {
        {"typical file",
         kS0 + S2Line(0xE0010, {1, 2, 3}) + S2Line(0xE0000, {0xAA, 0x55}) + kS5 + kS8,
         5,
         {{0xE0010, {1, 2, 3}}, {0xE0000, {0xAA, 0x55}}}},
        // Byte count 14, 04 (no data, still a record) and FF (the longest line, 514 characters).
        {"byte counts",
         S2Line(0x123456, sixteen) + S2Line(0xFFFFFF, {}) + S2Line(0xE0000, Bytes(251, 0x5A)),
         3,
         {{0x123456, sixteen}, {0xFFFFFF, {}}, {0xE0000, Bytes(251, 0x5A)}}},
        {"lower case, the S too",
         "s" + S2Line(0xABCDEF, {0xAB, 0xCD, 0xEF, 0x0F}, SRecordStyle{.lowerCase = true}).substr(1),
         1,
         {{0xABCDEF, {0xAB, 0xCD, 0xEF, 0x0F}}}},
        {"wrong checksum", "S2080E0000112233449F\r\n", 1, {{0xE0000, four}}},
        {"trailing blanks", S2Line(0xE0000, dead, SRecordStyle{.lineEnd = " \t\r\n"}) + " \n", 2, deads(1)},
        {"contiguous and overlapping lines stay separate",
         S2Line(0xE0000, {1, 2}) + S2Line(0xE0002, {3, 4}) + S2Line(0xE0001, {9}),
         3,
         {{0xE0000, {1, 2}}, {0xE0002, {3, 4}}, {0xE0001, {9}}}},
        {"nothing after the end line",
         kS0 + one + kS8 + S2Line(0xE0001, {2}) + "S9030000FC\r\ngarbage",
         3,
         {{0xE0000, {1}}}},
        {"only up to the given length", one + "S9030000FC\r\n", 1, {{0xE0000, {1}}}, one.size()},
        {"empty", "", 0, {}},
        {"no end on the last line", lf + bare, 2, deads(2)},
        {"blank lines counted", "\r\n" + crlf + "\n\r\n" + crlf, 5, deads(2)},
        {"mixed line ends, CR alone too", crlf + lf + bare + "\r" + bare + "\r\r\n" + crlf, 6, deads(5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = Read(c.text, c.length);
        EXPECT_EQ(r.result, c.lines);
        EXPECT_EQ(r.failure.kind, ExtractFailure::Kind::None);
        ASSERT_EQ(r.records.size(), c.records.size());
        for (std::size_t i = 0; i < c.records.size(); ++i) {
            const DataRecord& record = r.records.at(i);
            EXPECT_EQ(record.address, c.records[i].first) << "record " << i;
            EXPECT_EQ(Bytes(record.data.begin(), record.data.begin() + record.length), c.records[i].second)
                << "record " << i;
        }
    }
}

// The reader's refusal and the check's words for the same line.
TEST(ExtractDataMOTTest, RefusedLinesNameTheirKindAndLineAndTheCheckTheFault) {
    using Kind = ExtractFailure::Kind;
    const std::string good = S2Line(0xE0000, {1, 2, 3, 4});  // "S2080E0000" + 4 bytes + checksum: 20 characters
    const auto with = [&good](std::size_t at, char character) {
        return good.substr(0, at) + character + good.substr(at + 1);
    };
    const char* const unsupported = "is not supported";
    struct Case {
        const char* name;
        std::string text;
        Kind kind;
        std::uint32_t line;
        std::string diagnosis;
    };
    for (const Case& c : {
             Case{"S1", kS0 + good + "S1030000FC\r\n", Kind::UnsupportedRecordType, 3,
                  "record type S1 " + std::string(unsupported)},
             Case{"S9", good + good + "S9030000FC\r\n", Kind::UnsupportedRecordType, 3, unsupported},
             Case{"not a digit", "SX0300\r\n", Kind::UnsupportedRecordType, 1, unsupported},
             Case{"after blank lines", "\r\n\n" + good + "S4030000FC\n", Kind::UnsupportedRecordType, 4, unsupported},
             Case{"no S", kS0 + with(0, 'X'), Kind::MalformedRecord, 2, "no S-record: the line starts with 'X'"},
             Case{"blank before the S", " " + good, Kind::MalformedRecord, 1, "starts with 0x20"},
             Case{"G in the address", with(7, 'G'), Kind::MalformedRecord, 1,
                  "character 'G' in column 8 is no hex digit"},
             Case{"Z in the checksum", with(18, 'Z'), Kind::MalformedRecord, 1, "'Z' in column 19 is no hex"},
             Case{"count smaller than the line", good.substr(0, 20) + "00\r\n", Kind::MalformedRecord, 1,
                  "record has 22 characters, its byte count demands 20"},
             Case{"S2 without its checksum", good + good.substr(0, 18) + "\r\n", Kind::MalformedRecord, 2, "has 18"},
             Case{"S2 last line cut", good + "S2080E0000112233", Kind::MalformedRecord, 2, "demands 20"},
             Case{"S2 byte count 03", "S2030E0000EE\r\n", Kind::MalformedRecord, 1, "too short"},
             Case{"S8 byte count 03", "S8030E0000EE\r\n", Kind::MalformedRecord, 1, "too short"},
             Case{"one character", good + "S\r\n", Kind::MalformedRecord, 2, "too short"},
         }) {
        SCOPED_TRACE(c.name);
        const auto r = Read(c.text);
        EXPECT_EQ(r.result, c.kind == Kind::MalformedRecord ? ExtractData::kMalformedRecord
                                                            : ExtractData::kUnsupportedRecordType);
        EXPECT_EQ(r.failure.kind, c.kind);
        EXPECT_EQ(r.failure.line, c.line);
        const Bytes source(c.text.begin(), c.text.end());
        const auto findings = CheckSRecords(source.data(), static_cast<std::uint32_t>(source.size()));
        EXPECT_TRUE(std::any_of(findings.begin(), findings.end(), [&c](const SRecordFinding& f) {
            return f.line == c.line && f.text.find(c.diagnosis) != std::string::npos;
        })) << (findings.empty() ? "no finding" : findings[0].text);
    }
}

// The check reads the lines the reader takes, and misses an end that is not there.
TEST(CheckSRecordsTest, AFileWithoutItsEndIsProbablyTruncated) {
    const std::string body = kS0 + S2Line(0xE0000, {1}, SRecordStyle{.lineEnd = " \r"});
    for (const auto& [text, findings] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {body + kS8, {}},
             {body, {"2: no S8 end record: the file is probably truncated"}},
             {"", {"1: no S8 end record: the file is probably truncated"}},
         }) {
        const Bytes source(text.begin(), text.end());
        std::vector<std::string> found;
        for (const auto& finding : CheckSRecords(source.data(), static_cast<std::uint32_t>(source.size()))) {
            found.push_back(std::to_string(finding.line) + ": " + finding.text);
        }
        EXPECT_EQ(found, findings) << text;
    }
}

}  // namespace
}  // namespace kestrel
