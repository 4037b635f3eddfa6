#include "station/LinkOpenHint.h"

#include <filesystem>
#include <system_error>

#include "links/SerialLink.h"
#include "links/UsbDriver.h"
#include "session/LinkNames.h"

namespace kestrel {

std::string UsbOpenHint() {
    switch (SystemUsbDriver().LastOpenProblem()) {
        case UsbOpenProblem::NoDevice:
            return "no box found on USB: is it plugged in and powered? (lsusb lists its chip as 0403:6001)";
        case UsbOpenProblem::AccessDenied:
            return "the box is there but this user may not open it: install the udev rule 60-kestrel.rules (see "
                   "the README, \"USB permissions\") and plug the box in again";
        case UsbOpenProblem::Busy:
            return "the box is in use by another program";
        case UsbOpenProblem::None:
        case UsbOpenProblem::Other:
            break;
    }
    return {};
}

std::string LinkOpenHint(const std::string& linkName) {
    const LinkChoice choice = ChooseLink(linkName);
    if (choice.kind == LinkChoice::Kind::Usb) {
        return UsbOpenHint();
    }
    if (choice.kind != LinkChoice::Kind::Serial || choice.refusal != 0) {
        return {};
    }
    const std::string device = choice.device.empty() ? SerialLink::DeviceForPort(choice.port) : choice.device;
    // The device's state as the system reports it; opening it again to learn
    // more could disturb a port that another program holds.
    std::error_code error;
    const auto status = std::filesystem::status(device, error);
    if (error) {
        return device + ": " + error.message();
    }
    if (!std::filesystem::exists(status)) {
        return device + ": " + std::make_error_code(std::errc::no_such_file_or_directory).message();
    }
    return device + ": in use by another program, or this user may not open it";
}

}  // namespace kestrel
