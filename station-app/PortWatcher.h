#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "station-app/UsbHotplug.h"

namespace kestrel::stationapp {

// Watches named ports for a box plugged in or removed: the port appears or
// goes, or the USB box named is listed or not. It looks again on each of the
// system's events when there are any (Windows: a device change, the serial-port
// map changed), else every `periodMs` on a blocking, bounded wait, so an idle
// station costs no CPU; a change is told once, from the watcher's own thread.
class PortWatcher {
public:
    using Changed = std::function<void(const std::string& port, bool present)>;
    PortWatcher(std::vector<std::string> ports, Changed changed, std::unique_ptr<HotplugEvents> events = nullptr,
                int periodMs = 250);
    ~PortWatcher();  // stops and joins the watcher
    PortWatcher(const PortWatcher&) = delete;
    PortWatcher& operator=(const PortWatcher&) = delete;

    // Whether the port is there: on Linux its device file (a link is followed,
    // so a name that points at a pseudo-terminal is present while the terminal
    // is), on Windows a COM port's entry in the serial-port map; a USB box while
    // its driver lists it.
    static bool Present(const std::string& port);

private:
    void Watch();

    std::vector<std::string> ports_;
    Changed changed_;
    std::unique_ptr<HotplugEvents> events_;
    int periodMs_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;  // last: it starts once the rest is set
};

}  // namespace kestrel::stationapp
