#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "station/LogChain.h"

namespace kestrel {

// A log's downloads summed up for a quality engineer: what passed and failed
// where, how fast, why the failures failed and how often a box was tried.

// The downloads of one lot, operator, station and port (a box named by its
// serial number has a port of its own).
struct YieldRow {
    std::string lot, operatorName, station, port;
    std::size_t passed = 0, failed = 0;
    double yieldPercent = 0;                           // passed of all, in percent
    std::optional<double> boxesPerHour;                // from the first start to the last end (BoxesPerHour)
    double medianSeconds = 0;                          // of a download, passed or failed
    double firstStartSeconds = 0, lastEndSeconds = 0;  // since the epoch
};

// Boxes per hour over `seconds` of work; none under a minute, where a few quick
// boxes would claim a pace that no line keeps.
std::optional<double> BoxesPerHour(std::size_t boxes, double seconds);

// One cause of failures and how many, with the share of all failures up to it:
// the bars and the line of a Pareto chart.
struct ParetoBar {
    std::string cause;
    std::size_t count = 0;
    double cumulativePercent = 0;
};

// How many boxes (lot and serial number) took this many tries, and how many of them passed in the end.
struct AttemptCount {
    int attempts = 0;
    std::size_t boxes = 0, passedInTheEnd = 0;
};

// The serial numbers a lot's boxes took, and what of them did not end in a box that passed.
struct LotSerials {
    std::string lot;
    unsigned long long first = 0, last = 0;  // the lowest and highest number taken
    std::vector<std::string> voids;          // taken by a download that failed or never ended
    std::vector<std::string> reworked;       // labels flashed again on purpose
};

struct YieldReport {
    std::vector<YieldRow> rows;                              // in the order first met in the log
    std::vector<ParetoBar> failuresByStage, failuresByExit;  // most frequent first
    std::vector<AttemptCount> attempts;                      // fewest tries first
    std::size_t results = 0, started = 0;                    // records of each kind read
    std::size_t unfinished = 0;                              // started records with no result: runs killed or lost
    ChainCheck chain;                                        // whether the records are as they were written
    std::vector<LotSerials> serials;                         // lots whose boxes took numbers or were reworked
};

// The report of a log's text (records of the current layout; others are passed over).
YieldReport MakeYieldReport(const std::string& log);

// The status lines of a record's text, as they were written (escapes kept).
std::vector<std::string> RecordStatusLines(const std::string& record);

// The stage a failed download stopped in: its last status line before the
// first "Error: " line, without trailing blanks and dots; "before the download"
// when it has none (a box that never came).
std::string FailedStage(const std::vector<std::string>& statusLines);

}  // namespace kestrel
