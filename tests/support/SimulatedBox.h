#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "base/Clock.h"
#include "emulator/SimulatedUsbDriver.h"
#include "links/UsbLink.h"
#include "session/DataConverter.h"
#include "session/RecordingStatusList.h"

namespace kestrel::testing {

// One emulated box behind the simulated USB driver, on a manual clock, with the
// status list a session reports to: a whole download runs in process, in no time.
struct SimulatedBox {
    static constexpr std::uint64_t kRunawayPolls = 100000;

    explicit SimulatedBox(emulator::BoxBehaviour behaviour = {}, std::uint32_t startMs = 0)
        : clock(startMs), driver(clock) {
        UsbLink::ForgetDeviceListing();
        slot = driver.AddDevice(emulator::SimulatedUsbDevice{.behaviour = std::move(behaviour)});
    }

    // The session's own answer bound, so that the scenarios hold it to the millisecond.
    SessionOptions Options() { return {.usbDriver = &driver, .clock = &clock, .cancelRequested = Bounded()}; }
    // A box that asks for the same block again and again is answered without
    // limit, and on the manual clock no bound passes if a wait forgets to let
    // time go by: after this many polls the download is cancelled and the test
    // fails at once instead of hanging. `cancelWhen` is the test's own cancel.
    static std::function<bool()> Bounded(std::function<bool()> cancelWhen = {}) {
        return [polls = std::uint64_t{0}, cancelWhen = std::move(cancelWhen)]() mutable {
            if (++polls > kRunawayPolls) {
                if (polls == kRunawayPolls + 1)
                    ADD_FAILURE() << "the download polled " << kRunawayPolls << " times without ending";
                return true;
            }
            return cancelWhen && cancelWhen();
        };
    }
    std::vector<std::uint8_t> Written() const { return driver.Written(slot); }

    ManualClock clock;
    emulator::SimulatedUsbDriver driver;
    std::size_t slot = 0;
    RecordingStatusList status;
};

}  // namespace kestrel::testing
