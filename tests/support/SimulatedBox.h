#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "emulator/SimulatedUsbDriver.h"
#include "links/Clock.h"
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

    SessionOptions Options(std::uint32_t answerTimeoutMs = 30000) {
        SessionOptions options;
        options.usbDriver = &driver;
        options.clock = &clock;
        options.answerTimeoutMs = answerTimeoutMs;
        // A box that asks for the same block again and again is answered without
        // limit, and on the manual clock no bound ever passes: after this many
        // polls the download ends as cancelled, and the test fails instead of hanging.
        options.cancelRequested = [polls = std::uint64_t{0}]() mutable { return ++polls > kRunawayPolls; };
        return options;
    }
    // A session whose USB link to the box is open at 115200 baud.
    std::unique_ptr<DataConverter> OpenSession(SessionOptions options) {
        auto session = std::make_unique<DataConverter>(status, std::move(options));
        opened = session->OpenInterface("USB", 115200);
        return session;
    }
    std::unique_ptr<DataConverter> OpenSession() { return OpenSession(Options()); }

    std::vector<std::uint8_t> Written() const { return driver.Written(slot); }
    emulator::BoxModel& Model() { return driver.Model(slot); }

    ManualClock clock;
    emulator::SimulatedUsbDriver driver;
    std::size_t slot = 0;
    RecordingStatusList status;
    int opened = -100;  // what OpenInterface returned
};

}  // namespace kestrel::testing
