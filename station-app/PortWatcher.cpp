#include "station-app/PortWatcher.h"

#include <chrono>

#include "station/PortListing.h"

namespace kestrel::stationapp {

PortWatcher::PortWatcher(std::vector<std::string> ports, Changed changed, int periodMs)
    : ports_(std::move(ports)), changed_(std::move(changed)), periodMs_(periodMs), thread_([this] { Watch(); }) {}

PortWatcher::~PortWatcher() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool PortWatcher::Present(const std::string& port) {
    // Any name kestrel-flash takes: a device path, COMn, or a USB box by its index or serial number.
    return LinkPresent(port, SystemUsbDriver());
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
        lock.lock();
        wake_.wait_for(lock, std::chrono::milliseconds(periodMs_), [this] { return stop_; });
    }
}

}  // namespace kestrel::stationapp
