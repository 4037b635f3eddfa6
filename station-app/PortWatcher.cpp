#include "station-app/PortWatcher.h"

#include <chrono>

namespace kestrel::stationapp {

PortWatcher::PortWatcher(std::vector<std::string> ports, Changed changed, std::unique_ptr<HotplugEvents> events,
                         int periodMs)
    : ports_(std::move(ports)),
      changed_(std::move(changed)),
      events_(std::move(events)),
      periodMs_(periodMs),
      thread_([this] { Watch(); }) {}

PortWatcher::~PortWatcher() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (events_) {
        events_->Interrupt();
    }
    thread_.join();
}

void PortWatcher::Watch() {
    std::vector<char> known(ports_.size(), 0);  // every port starts absent, so a box there now is told
    std::unique_lock lock(mutex_);
    while (!stop_) {
        lock.unlock();
        for (std::size_t i = 0; i < ports_.size(); ++i) {
            const char now = Present(ports_[i]) ? 1 : 0;
            if (now != known[i]) {
                known[i] = now;
                changed_(ports_[i], now != 0);
            }
        }
        if (events_ && !events_->WaitForChange()) {
            return;
        }
        lock.lock();
        if (!events_) {
            wake_.wait_for(lock, std::chrono::milliseconds(periodMs_), [this] { return stop_; });
        }
    }
}

}  // namespace kestrel::stationapp
