#include "cli/UsbHint.h"

#include "links/UsbDriver.h"
#include "session/LinkNames.h"

namespace kestrel::cli {

void PrintUsbHint(const std::string& linkName, std::FILE* out) {
    if (ChooseLink(linkName).kind != LinkChoice::Kind::Usb) {
        return;
    }
    switch (SystemUsbDriver().LastOpenProblem()) {
        case UsbOpenProblem::NoDevice:
            std::fputs(
                "kestrel-flash: no box found on USB: is it plugged in and powered? "
                "(lsusb lists its chip as 0403:6001)\n",
                out);
            break;
        case UsbOpenProblem::AccessDenied:
            std::fputs(
                "kestrel-flash: the box is there but this user may not open it: install the udev rule "
                "60-kestrel.rules (see the README, \"USB permissions\") and plug the box in again\n",
                out);
            break;
        case UsbOpenProblem::Busy:
            std::fputs("kestrel-flash: the box is in use by another program\n", out);
            break;
        case UsbOpenProblem::None:
        case UsbOpenProblem::Other:
            break;
    }
}

}  // namespace kestrel::cli
