#pragma once

#include <atomic>
#include <cstddef>
#include <semaphore>

#include "station-app/UsbHotplug.h"

namespace kestrel::testing {

// Hot-plug events the test sends, as udev's monitor would: a sent event wakes one wait, the interrupt every one
// after it.
class SentHotplugEvents : public stationapp::HotplugEvents {
public:
    bool WaitForChange() override {
        if (!interrupted_)
            sent_.acquire();
        return !interrupted_;
    }
    void Interrupt() override {
        interrupted_ = true;
        sent_.release();
    }
    void Send(std::ptrdiff_t events = 1) { sent_.release(events); }

private:
    std::counting_semaphore<> sent_{0};
    std::atomic<bool> interrupted_{false};
};

}  // namespace kestrel::testing
