// The yield report from logs made here: which rows a log gives, their figures,
// the failures' causes, and which started records found their result.
#include <gtest/gtest.h>

#include <cstdio>

#include "station/LogChain.h"
#include "station/YieldReport.h"

namespace kestrel::testing {
namespace {

// One record as the tool writes it, in few words: "result" or "started", where, and how it ended.
struct Made {
    const char* kind = "result";
    const char* start = "10:00:00.000";
    const char* lot = "L1";
    const char* port = "COM40";
    const char* operatorName = "Ada";
    const char* station = "S1";
    int attempt = 1;
    std::vector<std::string> lines = {};
    const char* result = "success, exit 0, 10.000 s";
};

std::string LogOf(const std::vector<Made>& records) {
    std::string log, previous = kChainStart;
    for (const auto& made : records) {
        std::string body = std::string("=== 2026-01-05T") + made.start +
                           "Z Kestrel Loader 1\nschema: 2\nrecord: " + made.kind + "\noperator: " + made.operatorName +
                           "\nstation: " + made.station + "\nlot: " + made.lot +
                           "\nattempt: " + std::to_string(made.attempt) + "\nport: " + made.port + "\n";
        for (const auto& line : made.lines)
            body += "line +0.000s \"" + line + "\"\n";
        if (std::string(made.kind) == "result")
            body += std::string("result: ") + made.result + "\n";
        const std::string record = ChainRecord(body, previous);
        previous = record.substr(record.size() - 66, 64);
        log += record;
    }
    return log;
}

// A row in one line: "lot/operator/station/port passed+failed yield% rate/h median s".
std::string Describe(const YieldRow& row) {
    char figures[96];
    std::snprintf(figures, sizeof figures, " %zu+%zu %.1f%% %s/h %.3fs", row.passed, row.failed, row.yieldPercent,
                  row.boxesPerHour ? std::to_string(static_cast<int>(*row.boxesPerHour)).c_str() : "-",
                  row.medianSeconds);
    return row.lot + "/" + row.operatorName + "/" + row.station + "/" + row.port + figures;
}

TEST(YieldReport, EachLotOperatorStationAndPortIsARowWithItsOwnFigures) {
    const struct {
        const char* name;
        std::vector<Made> log;
        std::vector<std::string> rows;
    } cases[] = {
        {"each key field apart makes a row of its own, in the order first met",
         {{.lot = "L2"}, {}, {.operatorName = "Bo"}, {.station = "S2"}, {.port = "COM41"}, {.lot = "L2"}},
         {"L2/Ada/S1/COM40 2+0 100.0% -/h 10.000s", "L1/Ada/S1/COM40 1+0 100.0% -/h 10.000s",
          "L1/Bo/S1/COM40 1+0 100.0% -/h 10.000s", "L1/Ada/S2/COM40 1+0 100.0% -/h 10.000s",
          "L1/Ada/S1/COM41 1+0 100.0% -/h 10.000s"}},
        {"a rate from the first start to the last end, the median of an odd count",
         {{.start = "10:01:00.000", .result = "success, exit 0, 30.000 s"},
          {.start = "10:00:00.000", .result = "success, exit 0, 10.000 s"},
          {.start = "10:00:30.000", .result = "box-silent, exit 7, 20.000 s"}},
         {"L1/Ada/S1/COM40 2+1 66.7% 120/h 20.000s"}},
        {"no rate under a minute of work, the median of an even count",
         {{.result = "verify-failed, exit 8, 5.000 s"}, {.start = "10:00:10.000", .result = "box-silent, exit 7, 8 s"}},
         {"L1/Ada/S1/COM40 0+2 0.0% -/h 6.500s"}},
        {"a success whose record was lost, or any outcome with a status, failed",
         {{.result = "success, exit 10, 1.000 s"}, {.result = "cancelled, exit 0, 1.000 s"}},
         {"L1/Ada/S1/COM40 0+2 0.0% -/h 1.000s"}},
        {"started records and unreadable results count in no row",
         {{.kind = "started"}, {.result = "success exit 0"}, {.result = "success, exit 0 10 s"}},
         {}},
    };
    for (const auto& c : cases) {
        const YieldReport report = MakeYieldReport(LogOf(c.log));
        std::vector<std::string> rows;
        for (const auto& row : report.rows)
            rows.push_back(Describe(row));
        EXPECT_EQ(rows, c.rows) << c.name;
    }
}

// A started record waits for the result of the same lot, port and attempt; any other result leaves it unfinished.
TEST(YieldReport, AStartedRecordIsFinishedOnlyByTheResultOfItsLotPortAndAttempt) {
    const struct {
        const char* name;
        std::vector<Made> log;
        std::size_t unfinished;
    } cases[] = {
        {"its own result", {{.kind = "started"}, {}}, 0},
        {"another lot's", {{.kind = "started"}, {.lot = "L2"}}, 1},
        {"another port's", {{.kind = "started"}, {.port = "COM41"}}, 1},
        {"another attempt's", {{.kind = "started"}, {.attempt = 2}}, 1},
        {"one result for two starts", {{.kind = "started"}, {.kind = "started"}, {}}, 1},
        {"two results for one start", {{.kind = "started"}, {}, {}, {.kind = "started", .attempt = 2}}, 1},
        {"a result of another operator still ends it", {{.kind = "started"}, {.operatorName = "Bo"}}, 0},
    };
    for (const auto& c : cases) {
        const YieldReport report = MakeYieldReport(LogOf(c.log));
        EXPECT_EQ(report.unfinished, c.unfinished) << c.name;
        EXPECT_EQ(report.started + report.results, c.log.size()) << c.name;
    }
}

// Failures by the stage they stopped in (its last status line before the error, without blanks and dots) and by
// their status, most frequent first, equal counts by name, with the share of all failures up to each bar.
TEST(YieldReport, FailuresAreSummedByStageAndStatusMostFrequentFirst) {
    const YieldReport report = MakeYieldReport(LogOf({
        {.lines = {"Erasing flash... ", "Error: box not answering"}, .result = "box-silent, exit 7, 2 s"},
        {.lines = {"Verify data...", "Error: data verify"}, .result = "verify-failed, exit 8, 2 s"},
        {.lines = {"Open link", "Verify data..", "Error: data verify", "Done"}, .result = "verify-failed, exit 8, 2 s"},
        {.lines = {}, .result = "not-attached, exit 3, 0 s"},
        {.lines = {"Erasing flash"}, .result = "success, exit 0, 2 s"},
    }));
    const auto describe = [](const std::vector<ParetoBar>& bars) {
        std::vector<std::string> text;
        for (const auto& bar : bars) {
            char share[16];
            std::snprintf(share, sizeof share, "%.0f", bar.cumulativePercent);
            text.push_back(bar.cause + " " + std::to_string(bar.count) + " " + share);
        }
        return text;
    };
    EXPECT_EQ(describe(report.failuresByStage),
              (std::vector<std::string>{"Verify data 2 50", "Erasing flash 1 75", "before the download 1 100"}));
    EXPECT_EQ(describe(report.failuresByExit), (std::vector<std::string>{"exit 8 (verify) 2 50", "exit 3 (link) 1 75",
                                                                         "exit 7 (box not answering) 1 100"}));
}

}  // namespace
}  // namespace kestrel::testing
