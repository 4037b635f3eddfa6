// The report's page and table hold what people typed into the log: as text,
// never as markup or as a spreadsheet formula.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "cli/ReportPage.h"

namespace kestrel::testing {
namespace {

YieldReport Report() {
    YieldReport report;
    report.rows.resize(1);
    std::tie(report.rows[0].lot, report.rows[0].operatorName, report.rows[0].station, report.rows[0].port) =
        std::tuple("L1", "Ada", "S1", "COM40");
    report.failuresByStage = {ParetoBar{"Erasing", 1, 100}};
    report.failuresByExit = {ParetoBar{"exit 7", 1, 100}};
    report.serials = {LotSerials{"L1", 1, 2, {"2"}, {"SN-1"}}};
    return report;
}

// Every place a text from the log lands on the page. The hostile text is as long as the plain one
// and has no blank, so that a chart label is cut alike.
const std::vector<std::pair<const char*, std::function<void(YieldReport&, std::string&, const std::string&)>>> kPlaces =
    {
        {"lot", [](YieldReport& r, std::string&, const std::string& t) { r.rows[0].lot = t; }},
        {"operator", [](YieldReport& r, std::string&, const std::string& t) { r.rows[0].operatorName = t; }},
        {"station", [](YieldReport& r, std::string&, const std::string& t) { r.rows[0].station = t; }},
        {"port", [](YieldReport& r, std::string&, const std::string& t) { r.rows[0].port = t; }},
        {"stage", [](YieldReport& r, std::string&, const std::string& t) { r.failuresByStage[0].cause = t; }},
        {"exit", [](YieldReport& r, std::string&, const std::string& t) { r.failuresByExit[0].cause = t; }},
        {"serials' lot", [](YieldReport& r, std::string&, const std::string& t) { r.serials[0].lot = t; }},
        {"reworked label", [](YieldReport& r, std::string&, const std::string& t) { r.serials[0].reworked[0] = t; }},
        {"log name", [](YieldReport&, std::string& name, const std::string& t) { name = t; }},
};

TEST(ReportPage, EveryTextFromTheLogIsEscapedWhereverItLands) {
    const std::string hostile = "<a\"&'>", plain = "Plain6", escaped = "&lt;a&quot;&amp;'&gt;";
    for (const auto& [place, put] : kPlaces) {
        YieldReport withHostile = Report(), withPlain = Report();
        std::string hostileName = "line.log", plainName = "line.log";
        put(withHostile, hostileName, hostile);
        put(withPlain, plainName, plain);
        std::string page = cli::ReportHtml(withHostile, hostileName);
        // Escaped once wherever it lands, the page is the plain one's: nothing left raw, nothing escaped twice.
        for (std::size_t at; (at = page.find(escaped)) != std::string::npos;)
            page.replace(at, escaped.size(), plain);
        EXPECT_EQ(page, cli::ReportHtml(withPlain, plainName)) << place;
    }
}

TEST(ReportPage, ACsvFieldIsQuotedAsNeededAndNeverStartsAFormula) {
    for (const auto& [typed, field] : std::vector<std::pair<std::string, std::string>>{
             {"Ada", "Ada"},
             {"=1+2", "'=1+2"},
             {"+1", "'+1"},
             {"-1", "'-1"},
             {"@SUM(A1)", "'@SUM(A1)"},
             {"\tx", "'\tx"},
             {"\rx", "\"'\rx\""},
             {"a=b-c", "a=b-c"},
             {"Ek, Bo", "\"Ek, Bo\""},
             {"say \"hi\"", "\"say \"\"hi\"\"\""},
             {"two\nlines", "\"two\nlines\""},
             {"=a,\"b\"", "\"'=a,\"\"b\"\"\""},
             {"", ""},
         }) {
        YieldReport report = Report();
        report.rows[0].operatorName = typed;
        const std::string csv = cli::ReportCsv(report);
        const std::size_t row = csv.find("\r\nL1,") + 5;
        EXPECT_EQ(csv.substr(row, csv.find(",S1,", row) - row), field) << typed;
    }
}

}  // namespace
}  // namespace kestrel::testing
