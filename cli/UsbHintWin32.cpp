#include "cli/UsbHint.h"

namespace kestrel::cli {

const char* UsbProblemHint(UsbOpenProblem problem) {
    switch (problem) {
        case UsbOpenProblem::NoDriver:
            return "kestrel-flash: the FTDI D2XX driver is not installed (FTD2XX.dll was not found or is unusable): "
                   "install it from FTDI's web site, or use the box's COM port with -p COMn\n";
        case UsbOpenProblem::NoDevice:
            return "kestrel-flash: no box found on USB: is it plugged in and powered? "
                   "(the Device Manager lists its chip under USB controllers)\n";
        case UsbOpenProblem::AccessDenied:
        case UsbOpenProblem::Busy:
            return "kestrel-flash: the box is in use by another program\n";
        case UsbOpenProblem::None:
        case UsbOpenProblem::Other:
            break;
    }
    return nullptr;
}

}  // namespace kestrel::cli
