#include "cli/ReportPage.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "station/SessionLog.h"

namespace kestrel::cli {

namespace {

std::string Number(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// A dash, not a blank, where the work was too short for a rate: a blank cell reads as a value lost.
std::string PerHour(const YieldRow& row) { return row.boxesPerHour ? Number(*row.boxesPerHour, 1) : "-"; }

// A field holds what the log's writer typed. One that starts as a formula would (=, +, -, @, a tab or a CR) gets a
// leading apostrophe, so that a spreadsheet opening the file shows it as text instead of running it.
std::string CsvField(std::string text) {
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
        text.insert(0, 1, '\'');
    }
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

// Every field of the log may hold what its writer typed: as text, never as markup.
std::string Html(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

// A cause cut at blanks into lines of at most `width` characters, two at most, so that labels do not overlap.
std::vector<std::string> LabelLines(const std::string& cause, std::size_t width) {
    std::vector<std::string> lines(1);
    std::size_t at = 0;
    while (at < cause.size()) {
        std::size_t end = cause.find(' ', at);
        end = end == std::string::npos ? cause.size() : end;
        const std::string word = cause.substr(at, end - at);
        if (!lines.back().empty() && lines.back().size() + 1 + word.size() > width) {
            lines.emplace_back();
        }
        lines.back() += (lines.back().empty() ? "" : " ") + word;
        at = end + 1;
    }
    if (lines.size() > 2) {
        lines.resize(2);
        lines.back() += "...";
    }
    return lines;
}

// A Pareto chart: a bar per cause, most frequent first, and the cumulative share as a line.
std::string ParetoSvg(const std::vector<ParetoBar>& bars, const std::string& title) {
    std::string svg = "<h2>" + Html(title) + "</h2>\n";
    if (bars.empty()) {
        return svg + "<p>No failures.</p>\n";
    }
    const int left = 50, top = 20, height = 200, slot = 110, width = slot * static_cast<int>(bars.size());
    const std::size_t most = bars.front().count;
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(left + width + 50) + "\" height=\"" +
           std::to_string(top + height + 40) + "\" font-family=\"sans-serif\" font-size=\"11\">\n";
    svg += "<line x1=\"" + std::to_string(left) + "\" y1=\"" + std::to_string(top + height) + "\" x2=\"" +
           std::to_string(left + width) + "\" y2=\"" + std::to_string(top + height) + "\" stroke=\"#333\"/>\n";
    svg += "<text x=\"" + std::to_string(left - 6) + "\" y=\"" + std::to_string(top + 4) + "\" text-anchor=\"end\">" +
           std::to_string(most) + "</text>\n";
    svg += "<text x=\"" + std::to_string(left + width + 6) + "\" y=\"" + std::to_string(top + 4) + "\">100%</text>\n";
    std::string line;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const int x = left + static_cast<int>(i) * slot;
        const int barHeight = static_cast<int>(height * bars[i].count / most);
        svg += "<rect x=\"" + std::to_string(x + 15) + "\" y=\"" + std::to_string(top + height - barHeight) +
               "\" width=\"" + std::to_string(slot - 30) + "\" height=\"" + std::to_string(barHeight) +
               "\" fill=\"#c0504d\"/>\n";
        svg += "<text x=\"" + std::to_string(x + slot / 2) + "\" y=\"" + std::to_string(top + height - barHeight - 4) +
               "\" text-anchor=\"middle\">" + std::to_string(bars[i].count) + "</text>\n";
        int labelY = top + height + 16;
        for (const auto& label : LabelLines(bars[i].cause, 18)) {
            svg += "<text x=\"" + std::to_string(x + slot / 2) + "\" y=\"" + std::to_string(labelY) +
                   "\" text-anchor=\"middle\">" + Html(label) + "</text>\n";
            labelY += 14;
        }
        const int y = top + height - static_cast<int>(height * bars[i].cumulativePercent / 100.0);
        line += std::to_string(x + slot / 2) + "," + std::to_string(y) + " ";
        svg += "<circle cx=\"" + std::to_string(x + slot / 2) + "\" cy=\"" + std::to_string(y) +
               "\" r=\"3\" fill=\"#1f497d\"/>\n";
    }
    svg += "<polyline points=\"" + line + "\" fill=\"none\" stroke=\"#1f497d\" stroke-width=\"2\"/>\n</svg>\n";
    svg += "<table><tr><th>cause</th><th>failures</th><th>cumulative</th></tr>\n";
    for (const auto& bar : bars) {
        svg += "<tr><td>" + Html(bar.cause) + "</td><td class=\"n\">" + std::to_string(bar.count) +
               "</td><td class=\"n\">" + Number(bar.cumulativePercent, 1) + "%</td></tr>\n";
    }
    return svg + "</table>\n";
}

// "lot L: serials 7..9, void 8; reworked SN-1", for the text and the page.
std::string SerialsLine(const LotSerials& lot) {
    const auto list = [](const std::vector<std::string>& items) {
        std::string joined;
        for (const auto& item : items) {
            joined += (joined.empty() ? "" : ", ") + item;
        }
        return joined;
    };
    std::string line = "lot " + lot.lot + ":";
    if (lot.last != 0 || lot.first != 0) {
        line += " serials " + std::to_string(lot.first) + ".." + std::to_string(lot.last) + ", void " +
                (lot.voids.empty() ? std::string("none") : list(lot.voids));
    }
    if (!lot.reworked.empty()) {
        line += std::string(lot.last != 0 || lot.first != 0 ? ";" : "") + " reworked " + list(lot.reworked);
    }
    return line;
}

}  // namespace

std::string ReportText(const YieldReport& report) {
    std::string text = ChainSentence(report.chain) + "\n";
    text += "lot\toperator\tstation\tport\tpassed\tfailed\tyield\tboxes/h\tmedian s\n";
    for (const auto& row : report.rows) {
        // A field of an edited log may hold a control character: on a terminal it must not move the line.
        text += EscapedField(row.lot) + "\t" + EscapedField(row.operatorName) + "\t" + EscapedField(row.station) +
                "\t" + EscapedField(row.port) + "\t" + std::to_string(row.passed) + "\t" + std::to_string(row.failed) +
                "\t" + Number(row.yieldPercent, 1) + "%\t" + PerHour(row) + "\t" + Number(row.medianSeconds, 2) + "\n";
    }
    for (const auto& [bars, what] : {std::pair{&report.failuresByStage, "stage"}, {&report.failuresByExit, "exit"}}) {
        for (const auto& bar : *bars) {
            text += std::string("failures by ") + what + ": " + bar.cause + ": " + std::to_string(bar.count) + "\n";
        }
    }
    for (const auto& count : report.attempts) {
        text += "boxes tried " + std::to_string(count.attempts) + " times: " + std::to_string(count.boxes) + " (" +
                std::to_string(count.passedInTheEnd) + " passed in the end)\n";
    }
    for (const auto& lot : report.serials) {
        text += SerialsLine(lot) + "\n";
    }
    if (report.unfinished > 0) {
        text +=
            "started without a result (a run killed or its record lost): " + std::to_string(report.unfinished) + "\n";
    }
    return text;
}

std::string ReportCsv(const YieldReport& report) {
    // Every row says whether the log's chain held: a row may travel alone into a spreadsheet.
    const std::string chain =
        report.chain.broken == 0 ? "intact" : "broken at record " + std::to_string(report.chain.broken);
    std::string csv = std::string(CsvStart()) +
                      "lot,operator,station,port,passed,failed,yield_percent,boxes_per_hour,median_seconds,chain\r\n";
    for (const auto& row : report.rows) {
        csv += CsvField(row.lot) + "," + CsvField(row.operatorName) + "," + CsvField(row.station) + "," +
               CsvField(row.port) + "," + std::to_string(row.passed) + "," + std::to_string(row.failed) + "," +
               Number(row.yieldPercent, 1) + "," + PerHour(row) + "," + Number(row.medianSeconds, 3) + "," + chain +
               "\r\n";
    }
    return csv;
}

std::string ReportHtml(const YieldReport& report, const std::string& logName) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Kestrel yield report</title>\n"
        "<style>body{font-family:sans-serif;margin:24px;color:#222}table{border-collapse:collapse;margin:8px 0 20px}"
        "td,th{border:1px solid #bbb;padding:3px 8px;text-align:left}td.n{text-align:right}"
        "h1{font-size:20px}h2{font-size:16px;margin-top:24px}.broken{color:#c0504d;font-weight:bold}</style></"
        "head><body>\n"
        "<h1>Kestrel yield report</h1>\n<p>Log: " +
        Html(logName) + " &middot; " + std::to_string(report.results) + " results, " + std::to_string(report.started) +
        " started";
    if (report.unfinished > 0) {
        page += ", " + std::to_string(report.unfinished) + " started without a result";
    }
    page += "</p>\n<p class=\"" + std::string(report.chain.broken == 0 ? "intact" : "broken") + "\">" +
            Html(ChainSentence(report.chain));
    page +=
        "</p>\n<h2>Yield</h2>\n<table><tr><th>lot</th><th>operator</th><th>station</th><th>port</th><th>passed</th>"
        "<th>failed</th><th>yield</th><th>boxes/h</th><th>median s</th></tr>\n";
    for (const auto& row : report.rows) {
        page += "<tr><td>" + Html(row.lot) + "</td><td>" + Html(row.operatorName) + "</td><td>" + Html(row.station) +
                "</td><td>" + Html(row.port) + "</td><td class=\"n\">" + std::to_string(row.passed) +
                "</td><td class=\"n\">" + std::to_string(row.failed) + "</td><td class=\"n\">" +
                Number(row.yieldPercent, 1) + "%</td><td class=\"n\">" + PerHour(row) + "</td><td class=\"n\">" +
                Number(row.medianSeconds, 2) + "</td></tr>\n";
    }
    page += "</table>\n";
    if (!report.serials.empty()) {
        page += "<h2>Serial numbers</h2>\n";
        for (const auto& lot : report.serials) {
            page += "<p>" + Html(SerialsLine(lot)) + "</p>\n";
        }
    }
    page += ParetoSvg(report.failuresByStage, "Failures by stage");
    page += ParetoSvg(report.failuresByExit, "Failures by exit status");
    page +=
        "<h2>Attempts per box (lot and serial number)</h2>\n<table><tr><th>tries</th><th>boxes</th><th>passed in the "
        "end</th></tr>\n";
    for (const auto& count : report.attempts) {
        page += "<tr><td class=\"n\">" + std::to_string(count.attempts) + "</td><td class=\"n\">" +
                std::to_string(count.boxes) + "</td><td class=\"n\">" + std::to_string(count.passedInTheEnd) +
                "</td></tr>\n";
    }
    return page + "</table>\n</body></html>\n";
}

}  // namespace kestrel::cli
