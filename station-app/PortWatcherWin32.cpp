#include "links/SerialLink.h"
#include "links/SerialPortList.h"
#include "links/UsbDriver.h"
#include "session/LinkNames.h"
#include "station-app/PortWatcher.h"
#include "station/PortListing.h"

namespace kestrel::stationapp {

bool PortWatcher::Present(const std::string& port) {
    const LinkChoice choice = ChooseLink(port);
    if (choice.kind != LinkChoice::Kind::Serial || choice.refusal != 0) {
        return LinkPresent(port, SystemUsbDriver());  // a USB box: the D2XX driver's device list
    }
    // A port's driver enters it into the serial-port map as its device arrives and takes it out as it goes.
    const std::string device = choice.device.empty() ? SerialLink::DeviceForPort(choice.port) : choice.device;
    for (const auto& listed : ListSerialPorts()) {
        if (SameSerialDevice(listed.devicePath, device)) {
            return true;
        }
    }
    return false;
}

}  // namespace kestrel::stationapp
