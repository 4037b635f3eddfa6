#include "station-app/StationTexts.h"

#include <cstdio>

namespace kestrel::stationapp {

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

TileTexts TextsOf(const Tile& tile) {
    TileTexts texts;
    texts.name = tile.name.rfind('/', 0) == 0 ? tile.name.substr(tile.name.rfind('/') + 1) : tile.name;
    for (const std::string& own : {tile.label, tile.serial}) {
        if (!own.empty()) {
            texts.name += " \u00b7 " + own;  // what this box got of its own
        }
    }
    texts.stage = tile.present ? Trimmed(tile.stage) : "no box";
    texts.barMaximum = tile.total == 0 ? 1 : tile.total;
    texts.barValue = tile.result == Tile::Result::Pass ? texts.barMaximum : tile.done;
    if (tile.running || tile.result != Tile::Result::None) {
        texts.time = Fixed(tile.seconds, 1) + " s";
    }
    switch (tile.result) {
        case Tile::Result::Pass:
            texts.result = "PASS";
            break;
        case Tile::Result::Fail:
            texts.result = "FAIL";
            break;
        case Tile::Result::None:
            texts.result = tile.running ? "..." : "";
            break;
    }
    texts.error = Trimmed(tile.errorLine) + (tile.openHint.empty() ? "" : "\n" + tile.openHint);
    return texts;
}

std::string CountersText(const LotCounters& counters) {
    const auto perHour = counters.BoxesPerHour();
    return "Passed " + std::to_string(counters.passed) + "\nFailed " + std::to_string(counters.failed) + "\nYield " +
           Fixed(counters.YieldPercent(), 1) + " %\n" + (perHour ? Fixed(*perHour, 0) : "-") + " boxes per hour";
}

}  // namespace kestrel::stationapp
