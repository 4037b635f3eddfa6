#include "links/UsbDriver.h"
#include "station-app/PortWatcher.h"
#include "station/PortListing.h"

namespace kestrel::stationapp {

bool PortWatcher::Present(const std::string& port) {
    // Any name kestrel-flash takes: a device path, COMn, or a USB box by its index or serial number.
    return LinkPresent(port, SystemUsbDriver());
}

}  // namespace kestrel::stationapp
