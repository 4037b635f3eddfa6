#include "station/YieldReport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <tuple>

#include "session/StatusList.h"
#include "station/LogChain.h"
#include "station/TraceFields.h"

namespace kestrel {

namespace {

// Days since 1970-01-01 of a civil date, without the C library's time zone.
long long DaysFromCivil(long long year, unsigned month, unsigned day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

// The start time of a record's head line "=== YYYY-MM-DDTHH:MM:SS.mmmZ ...", in seconds since the epoch.
double StartSeconds(const std::string& record) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0;
    if (std::sscanf(record.c_str(), "=== %d-%d-%dT%d:%d:%lfZ", &year, &month, &day, &hour, &minute, &second) != 6) {
        return 0;
    }
    return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) *
               86400.0 +
           hour * 3600.0 + minute * 60.0 + second;
}

const char* ExitClassName(int status) {
    switch (status) {
        case 3:
            return "link";
        case 4:
            return "file";
        case 5:
            return "data";
        case 6:
            return "box refused";
        case 7:
            return "box not answering";
        case 8:
            return "verify";
        case 9:
            return "cancelled";
        case 10:
            return "output";
        default:
            return "other";
    }
}

std::vector<ParetoBar> Pareto(const std::map<std::string, std::size_t>& counts) {
    std::vector<ParetoBar> bars;
    std::size_t total = 0;
    for (const auto& [cause, count] : counts) {
        bars.push_back({cause, count, 0});
        total += count;
    }
    // Most frequent first; equal counts by name, so that the chart does not change between runs.
    std::stable_sort(bars.begin(), bars.end(), [](const auto& a, const auto& b) { return a.count > b.count; });
    std::size_t sum = 0;
    for (auto& bar : bars) {
        sum += bar.count;
        bar.cumulativePercent = 100.0 * static_cast<double>(sum) / static_cast<double>(total);
    }
    return bars;
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Result {
    std::string outcome;
    int exit = 0;
    double seconds = 0;
};

bool ParseResult(const std::string& text, Result& result) {
    const std::size_t comma = text.find(", exit ");
    if (comma == std::string::npos) {
        return false;
    }
    result.outcome = text.substr(0, comma);
    char* end = nullptr;
    result.exit = static_cast<int>(std::strtol(text.c_str() + comma + 7, &end, 10));
    if (end == nullptr || std::string(end).rfind(", ", 0) != 0) {
        return false;
    }
    result.seconds = std::strtod(end + 2, nullptr);
    return true;
}

}  // namespace

std::vector<std::string> RecordStatusLines(const std::string& record) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; (at = record.find("\nline +", at)) != std::string::npos;) {
        const std::size_t open = record.find('"', at), end = record.find('\n', at + 1);
        if (open != std::string::npos && end != std::string::npos && open < end && record[end - 1] == '"') {
            lines.push_back(record.substr(open + 1, end - open - 2));
        }
        at = end == std::string::npos ? record.size() : end;
    }
    return lines;
}

std::string FailedStage(const std::vector<std::string>& statusLines) {
    std::string stage;
    for (const auto& line : statusLines) {
        if (IsErrorLine(line)) {
            break;
        }
        stage = line;
    }
    while (!stage.empty() && (stage.back() == ' ' || stage.back() == '.')) {
        stage.pop_back();
    }
    return stage.empty() ? "before the download" : stage;
}

std::optional<double> BoxesPerHour(std::size_t boxes, double seconds) {
    constexpr double kShortestSeconds = 60;
    if (seconds < kShortestSeconds) {
        return std::nullopt;
    }
    return static_cast<double>(boxes) * 3600.0 / seconds;
}

YieldReport MakeYieldReport(const std::string& log) {
    YieldReport report;
    using Key = std::tuple<std::string, std::string, std::string, std::string>;
    std::vector<Key> order;
    std::map<Key, YieldRow> rows;
    std::map<Key, std::vector<double>> durations;
    std::map<std::string, std::size_t> byStage, byExit;
    // Per box (lot and serial number): its most tries and whether its last result passed. A port with
    // no box to name (a serial line, a pseudo-terminal) counts no tries: swapped boxes would look like one.
    std::map<std::pair<std::string, std::string>, std::pair<int, bool>> boxes;
    std::map<std::tuple<std::string, std::string, std::string>, int> open;  // started, awaiting their result
    struct Taken {
        std::map<unsigned long long, bool> serials;  // passed
        std::vector<std::string> reworked;
    };
    std::map<std::string, Taken> taken;
    for (const auto& record : SplitLog(log)) {
        // Schema 2 records lack only what a box got of its own: they count alike.
        if (const std::string schema = record.Field("schema");
            schema != "2" && schema != std::to_string(kRecordSchema)) {
            continue;
        }
        const std::string lot = record.Field("lot"), port = record.Field("port"), attempt = record.Field("attempt");
        const std::string serial = record.Field("serial");
        if (!serial.empty() && serial != "none") {
            taken[lot].serials.try_emplace(std::strtoull(serial.c_str(), nullptr, 10), false);
        }
        if (record.Field("record") == "started") {
            ++report.started;
            ++open[{lot, port, attempt}];
            continue;
        }
        Result result;
        if (record.Field("record") != "result" || !ParseResult(record.Field("result"), result)) {
            continue;
        }
        ++report.results;
        if (auto started = open.find({lot, port, attempt}); started != open.end() && started->second > 0) {
            --started->second;
        }
        const Key key{lot, record.Field("operator"), record.Field("station"), port};
        auto [found, isNew] = rows.try_emplace(key);
        YieldRow& row = found->second;
        const double start = StartSeconds(record.text);
        if (isNew) {
            order.push_back(key);
            std::tie(row.lot, row.operatorName, row.station, row.port) = key;
            row.firstStartSeconds = start;
        }
        row.firstStartSeconds = std::min(row.firstStartSeconds, start);
        row.lastEndSeconds = std::max(row.lastEndSeconds, start + result.seconds);
        durations[key].push_back(result.seconds);
        const bool passed = result.outcome == "success" && result.exit == 0;
        if (!serial.empty() && serial != "none" && passed) {
            taken[lot].serials[std::strtoull(serial.c_str(), nullptr, 10)] = true;
        }
        if (record.Field("rework") == "yes") {
            taken[lot].reworked.push_back(record.Field("label"));
        }
        (passed ? row.passed : row.failed) += 1;
        if (!passed) {
            ++byStage[FailedStage(RecordStatusLines(record.text))];
            ++byExit["exit " + std::to_string(result.exit) + " (" + ExitClassName(result.exit) + ")"];
        }
        if (const std::string box = record.Field("box");
            !box.empty() && box != "none" && std::atoi(attempt.c_str()) > 0) {
            auto& tries = boxes[{lot, box}];
            tries.first = std::max(tries.first, std::atoi(attempt.c_str()));
            tries.second = passed;
        }
    }
    for (const auto& key : order) {
        YieldRow row = rows[key];
        const std::size_t all = row.passed + row.failed;
        row.yieldPercent = 100.0 * static_cast<double>(row.passed) / static_cast<double>(all);
        row.boxesPerHour = BoxesPerHour(all, row.lastEndSeconds - row.firstStartSeconds);
        row.medianSeconds = Median(durations[key]);
        report.rows.push_back(row);
    }
    for (const auto& [key, count] : open) {
        report.unfinished += static_cast<std::size_t>(count);
    }
    for (const auto& [lot, numbers] : taken) {
        LotSerials lotSerials{.lot = lot, .first = 0, .last = 0, .voids = {}, .reworked = numbers.reworked};
        if (!numbers.serials.empty()) {
            lotSerials.first = numbers.serials.begin()->first;
            lotSerials.last = numbers.serials.rbegin()->first;
        }
        for (const auto& [number, passed] : numbers.serials) {
            if (!passed) {
                lotSerials.voids.push_back(std::to_string(number));
            }
        }
        if (!numbers.serials.empty() || !numbers.reworked.empty()) {
            report.serials.push_back(lotSerials);
        }
    }
    report.chain = VerifyChain(log);
    report.failuresByStage = Pareto(byStage);
    report.failuresByExit = Pareto(byExit);
    std::map<int, AttemptCount> attempts;
    for (const auto& [box, tries] : boxes) {
        AttemptCount& count = attempts[tries.first];
        count.attempts = tries.first;
        ++count.boxes;
        count.passedInTheEnd += tries.second;
    }
    for (const auto& [tries, count] : attempts) {
        report.attempts.push_back(count);
    }
    return report;
}

}  // namespace kestrel
