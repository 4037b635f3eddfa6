#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>

namespace kestrel {
class UsbDriver;
}

namespace kestrel::stationapp {

// The system's word that something was plugged into or out of the USB bus.
// A seam, so that tests tell of a box without a bus.
class HotplugEvents {
public:
    virtual ~HotplugEvents() = default;
    // Blocks until the bus changed (true) or Interrupt was called (false).
    virtual bool WaitForChange() = 0;
    // Ends a WaitForChange now and every one after; any thread may call it.
    virtual void Interrupt() = 0;
};

// The events of the platform; null with `error` set when there are none to be had.
std::unique_ptr<HotplugEvents> SystemHotplugEvents(std::string& error);
// The system's word that a serial port came or went (Windows: a device change,
// or a change of the serial-port map); null where there is none and the ports
// are looked at in turn (a device file has no event of its own on Linux).
std::unique_ptr<HotplugEvents> SystemPortEvents();

// Which USB boxes are attached, told as they come and go: the driver's listing
// at the start and after every hot-plug event, compared with the last one. No
// polling: between events the thread sleeps in the event source.
class UsbHotplug {
public:
    using Changed = std::function<void(const std::string& link, bool present)>;
    UsbHotplug(std::unique_ptr<HotplugEvents> events, UsbDriver& driver, Changed changed);
    ~UsbHotplug();  // interrupts the events and joins the thread
    UsbHotplug(const UsbHotplug&) = delete;
    UsbHotplug& operator=(const UsbHotplug&) = delete;

private:
    void Watch();
    void Compare();

    std::unique_ptr<HotplugEvents> events_;
    UsbDriver& driver_;
    Changed changed_;
    std::set<std::string> attached_;
    std::thread thread_;  // last: it starts once the rest is set
};

}  // namespace kestrel::stationapp
