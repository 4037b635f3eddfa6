#include "station-app/UsbHotplug.h"

namespace kestrel::stationapp {

// Windows tells of devices through a window's WM_DEVICECHANGE, which belongs to
// the Win32 front end that is still to come: there is no source to hand out here.
std::unique_ptr<HotplugEvents> SystemHotplugEvents(std::string& error) {
    error = "USB hot-plug events come from the window on this system";
    return nullptr;
}

}  // namespace kestrel::stationapp
