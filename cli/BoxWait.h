#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "links/UsbDriver.h"

namespace kestrel::cli {

// Sleeps in steps on `clock` until `ready` holds, the bound passes (0: no bound) or `cancelled` holds; whether
// `ready` held.
bool WaitUntil(const std::function<bool()>& ready, double boundSeconds, const std::function<bool()>& cancelled,
               Clock& clock);

// The boxes a station waits for, each with its driver (null: `fallback`).
struct WaitedBoxes {
    const std::vector<std::string>& links;
    const std::vector<UsbDriver*>& drivers;
    UsbDriver& fallback;  // its time base is the waits' clock
    std::function<bool()> cancelled;
    bool quiet = false;
};

// Waits at most `boundSeconds` for every box to be attached and says which
// are: a box that does not come holds up none of the others, which are flashed
// all the same. A line on stderr names each box that did not come.
std::vector<bool> WaitForAttached(const WaitedBoxes& boxes, double boundSeconds);

// Waits at most `boundSeconds` for the boxes marked in `flashed` to be removed;
// false, with a line saying which box is still attached, when one stays.
bool WaitForRemoval(const WaitedBoxes& boxes, const std::vector<bool>& flashed, double boundSeconds);

}  // namespace kestrel::cli
