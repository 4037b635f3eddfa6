#include "cli/BoxWait.h"

#include <cstdio>

#include "station/PortListing.h"

namespace kestrel::cli {

namespace {

UsbDriver& DriverOf(const WaitedBoxes& boxes, std::size_t box) {
    return boxes.drivers[box] != nullptr ? *boxes.drivers[box] : boxes.fallback;
}

bool Cancelled(const WaitedBoxes& boxes) { return boxes.cancelled && boxes.cancelled(); }

}  // namespace

bool WaitUntil(const std::function<bool()>& ready, double boundSeconds, const std::function<bool()>& cancelled,
               Clock& clock) {
    const std::uint32_t startMs = clock.TickMs();
    while (!ready()) {
        if (cancelled && cancelled()) {
            return false;
        }
        if (boundSeconds > 0 && clock.TickMs() - startMs > boundSeconds * 1000) {
            return false;
        }
        clock.SleepFor(200);
    }
    return true;
}

std::vector<bool> WaitForAttached(const WaitedBoxes& boxes, double boundSeconds) {
    std::vector<bool> present(boxes.links.size(), false);
    for (std::size_t i = 0; i < boxes.links.size() && !boxes.quiet; ++i) {
        std::fprintf(stderr, "kestrel-flash: waiting for %s to be attached\n", boxes.links[i].c_str());
    }
    // All boxes in one wait: a box that does not come costs the others no more than the bound.
    const auto all = [&] {
        bool every = true;
        for (std::size_t i = 0; i < boxes.links.size(); ++i) {
            present[i] = present[i] || LinkPresent(boxes.links[i], DriverOf(boxes, i));
            every = every && present[i];
        }
        return every;
    };
    if (!WaitUntil(all, boundSeconds, boxes.cancelled, boxes.fallback.TimeBase())) {
        for (std::size_t i = 0; i < boxes.links.size(); ++i) {
            if (!present[i] || Cancelled(boxes)) {
                std::fprintf(stderr, "kestrel-flash: %s: %s\n", boxes.links[i].c_str(),
                             Cancelled(boxes) ? "cancelled" : "not there in time");
            }
        }
    }
    return present;
}

bool WaitForRemoval(const WaitedBoxes& boxes, const std::vector<bool>& flashed, double boundSeconds) {
    for (std::size_t i = 0; i < boxes.links.size(); ++i) {
        if (!flashed[i]) {
            continue;
        }
        if (!boxes.quiet) {
            std::fprintf(stderr, "kestrel-flash: waiting for %s to be removed\n", boxes.links[i].c_str());
        }
        const auto removed = [&] { return !LinkPresent(boxes.links[i], DriverOf(boxes, i)); };
        if (!WaitUntil(removed, boundSeconds, boxes.cancelled, boxes.fallback.TimeBase())) {
            // The box is there: the wait was for it to go, so "not there" would tell the opposite.
            std::fprintf(stderr, "kestrel-flash: %s: %s\n", boxes.links[i].c_str(),
                         Cancelled(boxes) ? "cancelled" : "still attached: not removed in time");
            return false;
        }
    }
    return true;
}

}  // namespace kestrel::cli
