#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::stationapp {

// Watches named ports for a box plugged in or removed: the device file appears
// or goes, or the USB box named is listed or not. A slow look on a blocking,
// bounded wait, so an idle station costs no CPU; a change is told once, from
// the watcher's own thread.
class PortWatcher {
public:
    using Changed = std::function<void(const std::string& port, bool present)>;
    PortWatcher(std::vector<std::string> ports, Changed changed, int periodMs = 250);
    ~PortWatcher();  // stops and joins the watcher
    PortWatcher(const PortWatcher&) = delete;
    PortWatcher& operator=(const PortWatcher&) = delete;

    // Whether the port is there (a link is followed: a port name that points
    // at a pseudo-terminal is present while the terminal is).
    static bool Present(const std::string& port);

private:
    void Watch();

    std::vector<std::string> ports_;
    Changed changed_;
    int periodMs_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;  // last: it starts once the rest is set
};

}  // namespace kestrel::stationapp
