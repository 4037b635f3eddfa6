#include "station/OpenFailureHint.h"

namespace kestrel {

// A Windows session is the user's at the machine: no seat withholds a device from it.
bool SessionHasSeat() { return true; }

std::string UsbProblemHint(UsbOpenProblem problem, const UsbAccessFacts&) {
    switch (problem) {
        case UsbOpenProblem::NoDriver:
            return "the FTDI D2XX driver is not installed (FTD2XX.dll was not found or is unusable): "
                   "install it from FTDI's web site, or use the box's COM port";
        case UsbOpenProblem::NoDevice:
            return "no box found on USB: is it plugged in and powered? "
                   "(the Device Manager lists its chip under USB controllers)";
        case UsbOpenProblem::AccessDenied:
        case UsbOpenProblem::Busy:
            return "the box is in use by another program";
        case UsbOpenProblem::None:
        case UsbOpenProblem::Other:
            break;
    }
    return {};
}

// A COM port has no owning group: an open the system refuses means another program holds it.
std::string DeviceGroupName(const std::string&) { return {}; }

}  // namespace kestrel
