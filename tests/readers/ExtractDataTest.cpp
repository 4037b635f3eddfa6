#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "readers/ExtractDataMOT.h"
#include "readers/SRecordCheck.h"
#include "support/SRecordWriter.h"

// The S-record reader, and the file check that reads its lines too. Overlapping
// and contiguous records, long files and both cases of the digits are the
// round-trip property's (RoundTripPropertyTest); the cut of a binary file into
// records is the preparation's (PrepareImageTest) and, at an exact multiple of
// a record, the largest image's download (SessionScenarios.h).
namespace kestrel {
namespace {

using testing::S2Line;
using Bytes = std::vector<std::uint8_t>;

using Records = std::vector<std::pair<std::uint32_t, Bytes>>;  // each record's address and data

struct Reading {
    int result = 0;
    Records records;
    ExtractFailure failure;
    std::vector<SRecordFinding> findings;  // the check's, of the same bytes
};

// Exactly the text's bytes, no terminator behind them, of which the reader and the check are given `length`.
Reading Read(const std::string& text, std::size_t length = std::string::npos) {
    const Bytes source(text.begin(), text.end());
    const auto given = static_cast<std::uint32_t>(std::min(length, source.size()));
    Reading r;
    RecordList records;
    r.result = ExtractDataMOT().extract(source.data(), records, given, &r.failure);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const DataRecord& record = records.at(i);
        r.records.emplace_back(record.address, Bytes(record.data.begin(), record.data.begin() + record.length));
    }
    r.findings = CheckSRecords(source.data(), given);
    return r;
}

const std::string kS0 = "S00600004844521B\r\n";

TEST(ExtractDataMOTTest, AcceptedFilesGiveTheirLineCountAndRecordsInFileOrder) {
    const Bytes sixteen{0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
    const Bytes dead{0xDE, 0xAD};
    const std::string crlf = S2Line(0xE0000, dead);
    const std::string bare = crlf.substr(0, crlf.size() - 2);
    struct Case {
        std::string text;
        int lines;
        Records records;
        std::uint32_t noEndAt;  // the line of the check's "probably truncated", 0: none
    };
    const Case cases[] = {
        // A wrong checksum is read as it is; nothing after the end line is read.
        {kS0 + S2Line(0xE0010, {1, 2, 3}) + "S2080E0000112233449F\r\n" + "S5030002FA\r\n" + "S804000000FB\r\n" +
             "S9\r\nx",
         5,
         {{0xE0010, {1, 2, 3}}, {0xE0000, {0x11, 0x22, 0x33, 0x44}}},
         0},
        // Byte counts 14 (lower case, the S too), 04 (no data, still a record) and FF (514 characters).
        {"s" + S2Line(0xABCDEF, sixteen, {.lowerCase = true}).substr(1) + S2Line(0xFFFFFF, {}) +
             S2Line(0xE0000, Bytes(251, 0x5A)),
         3,
         {{0xABCDEF, sixteen}, {0xFFFFFF, {}}, {0xE0000, Bytes(251, 0x5A)}},
         3},
        {S2Line(0xE0000, dead, {.lineEnd = " \t\r\n"}) + " \n", 2, {{0xE0000, dead}}, 2},  // trailing blanks
        {"", 0, {}, 1},
        // Blank lines counted, mixed line ends, CR alone too, no end on the last line.
        {"\r\n" + crlf + S2Line(0xE0000, dead, {.lineEnd = "\n"}) + "\n" + bare + "\r" + bare + "\r\r\n" + crlf + bare,
         9, Records(6, {0xE0000, dead}), 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        const auto r = Read(c.text);
        EXPECT_EQ(r.result, c.lines);
        EXPECT_EQ(r.records, c.records);
        const auto noEnd = std::ranges::find(
            r.findings, std::string("no S8 end record: the file is probably truncated"), &SRecordFinding::text);
        EXPECT_EQ(noEnd == r.findings.end() ? 0 : noEnd->line, c.noEndAt);
    }
    EXPECT_EQ(Read(crlf + "S9030000FC\r\n", crlf.size()).result, 1) << "only the given length is read";
}

// The reader's refusal and the check's words for the same line.
TEST(ExtractDataMOTTest, RefusedLinesNameTheirKindAndLineAndTheCheckTheFault) {
    using Kind = ExtractFailure::Kind;
    const std::string good = S2Line(0xE0000, {1, 2, 3, 4});  // "S2080E0000" + 4 bytes + checksum: 20 characters
    const auto with = [&good](std::size_t at, char c) { return good.substr(0, at) + c + good.substr(at + 1); };
    for (const auto& [text, kind, line, diagnosis] :
         std::vector<std::tuple<std::string, Kind, std::uint32_t, std::string>>{
             {kS0 + good + "S1030000FC\r\n", Kind::UnsupportedRecordType, 3, "record type S1 is not supported"},
             // A run of them is one finding, blank lines within; its end record is no truncated file's.
             {kS0 + "S30500000000FA\n\nS30500000000FA\nS70500000000FA", Kind::UnsupportedRecordType, 2,
              "2 records of type S3 (lines 2 to 4) are not supported: S3 and S7 carry 32-bit"},
             {kS0 + with(0, 'X'), Kind::MalformedRecord, 2, "no S-record: the line starts with 'X'"},
             {" " + good, Kind::MalformedRecord, 1, "starts with 0x20"},
             {with(7, 'G'), Kind::MalformedRecord, 1, "character 'G' in column 8 is no hex digit"},
             {with(18, 'Z'), Kind::MalformedRecord, 1, "'Z' in column 19 is no hex"},  // a pair's first digit
             {good.substr(0, 20) + "00\r\n", Kind::MalformedRecord, 1,
              "record has 22 characters, its byte count demands 20"},
             {good + good.substr(0, 18) + "\r\n", Kind::MalformedRecord, 2,
              "has 18 characters, its byte count demands 20"},
             {"S2030E0000EE\r\n", Kind::MalformedRecord, 1, "too short"},
         }) {
        SCOPED_TRACE(text);
        const auto r = Read(text);
        EXPECT_EQ(r.result,
                  kind == Kind::MalformedRecord ? ExtractData::kMalformedRecord : ExtractData::kUnsupportedRecordType);
        EXPECT_EQ(r.failure.kind, kind);
        EXPECT_EQ(r.failure.line, line);
        // The type the reader refused is the one the check names.
        EXPECT_TRUE(kind == Kind::MalformedRecord ||
                    diagnosis.find(std::string("type S") + r.failure.recordType) != std::string::npos);
        EXPECT_TRUE(std::any_of(r.findings.begin(), r.findings.end(), [&](const SRecordFinding& f) {
            return f.line == line && f.text.find(diagnosis) != std::string::npos;
        })) << (r.findings.empty() ? "no finding" : r.findings[0].text);
    }
}

// What the download takes without a word: each overlap against the record that reaches furthest below it (records
// that only touch do not overlap), a wrong checksum, an S5 count that disagrees.
TEST(CheckSRecords, FindsOverlapsWrongChecksumsAndCountsOnTheLineThatCausesThem) {
    const std::string text = kS0 + S2Line(0xE0000, Bytes(16, 1)) + S2Line(0xE0010, Bytes(4, 2)) +
                             S2Line(0xE0008, Bytes(4, 3)) + S2Line(0xE000E, Bytes(2, 4)) +
                             S2Line(0xE000F, Bytes(4, 5)) + "S2080E0014112233449F\n" +
                             testing::SRecordLine('5', 3, nullptr, 0) + testing::SRecordLine('8', 0xE0000, nullptr, 0);
    std::vector<std::pair<std::uint32_t, std::string>> seen;
    for (const auto& finding : Read(text).findings)
        seen.emplace_back(finding.line, finding.text);
    const std::string wins = "; the later one wins";
    EXPECT_EQ(seen, (decltype(seen){{4, "data at 0xE0008 overlaps the record of line 2" + wins},
                                    {5, "data at 0xE000E overlaps the record of line 2" + wins},
                                    {6, "data at 0xE000F overlaps the record of line 2" + wins},
                                    {6, "data at 0xE0010 overlaps the record of line 3" + wins},
                                    {7, "checksum 0x9F, the record's bytes give 0x2B"},
                                    {8, "S5 counts 3 data records, the file has 6"}}));
}

}  // namespace
}  // namespace kestrel
