#include "station-app/UsbHotplug.h"

#include <vector>

#include "links/UsbDriver.h"
#include "session/LinkNames.h"

namespace kestrel::stationapp {

UsbHotplug::UsbHotplug(std::unique_ptr<HotplugEvents> events, UsbDriver& driver, Changed changed)
    : events_(std::move(events)), driver_(driver), changed_(std::move(changed)), thread_([this] { Watch(); }) {}

UsbHotplug::~UsbHotplug() {
    events_->Interrupt();
    thread_.join();
}

void UsbHotplug::Watch() {
    do {
        Compare();
    } while (events_->WaitForChange());
}

void UsbHotplug::Compare() {
    std::vector<UsbDeviceInfo> devices;
    if (driver_.ListDevices(devices) != 0) {
        return;  // the next event lists again; a box is not dropped for a listing that failed
    }
    std::set<std::string> now;
    for (const auto& device : devices) {
        now.insert(UsbLinkName(device));
    }
    for (const auto& link : attached_) {
        if (now.count(link) == 0) {
            changed_(link, false);
        }
    }
    for (const auto& link : now) {
        if (attached_.count(link) == 0) {
            changed_(link, true);
        }
    }
    attached_ = std::move(now);
}

}  // namespace kestrel::stationapp
