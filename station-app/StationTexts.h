#pragma once

#include <cstdint>
#include <string>

#include "station-app/StationLogic.h"

namespace kestrel::stationapp {

// What a tile shows, in words, the same in every front end.
struct TileTexts {
    std::string name;    // a device path by its last part: "ttyUSB0" reads from afar, "/dev/" adds nothing
    std::string stage;   // the newest status line, or "no box"
    std::string time;    // "12.3 s" while it runs and after; empty before
    std::string result;  // "PASS", "FAIL", "..." while it runs, else empty
    std::string error;   // the error line, then the hint on the link on a line of its own
    std::uint32_t barMaximum = 1, barValue = 0;
};

TileTexts TextsOf(const Tile& tile);

// The lot's counters on four lines: passed, failed, the yield, the boxes per hour.
std::string CountersText(const LotCounters& counters);

}  // namespace kestrel::stationapp
