#include "station/LinkOpenHint.h"

namespace kestrel {

const char* UsbProblemHint(UsbOpenProblem problem) {
    switch (problem) {
        case UsbOpenProblem::NoDevice:
            return "no box found on USB: is it plugged in and powered? "
                   "(lsusb lists its chip as 0403:6001)";
        case UsbOpenProblem::AccessDenied:
            return "the box is there but this user may not open it: install the udev rule "
                   "60-kestrel.rules (see the README, \"USB permissions\") and plug the box in again";
        case UsbOpenProblem::Busy:
            return "the box is in use by another program";
        case UsbOpenProblem::NoDriver:  // libftdi1 is linked in: never missing here
        case UsbOpenProblem::None:
        case UsbOpenProblem::Other:
            break;
    }
    return nullptr;
}

}  // namespace kestrel
