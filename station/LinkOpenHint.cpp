#include "station/LinkOpenHint.h"

#include <filesystem>
#include <system_error>

#include "links/FileOpen.h"
#include "links/SerialLink.h"
#include "links/UsbDriver.h"
#include "session/LinkNames.h"

namespace kestrel {

std::string UsbOpenHint(HintReader reader) {
    const UsbOpenProblem problem = SystemUsbDriver().LastOpenProblem();
    const char* hint = UsbProblemHint(problem);
    if (hint == nullptr) {
        return {};
    }
    // Without the driver the box's COM port is the way left: named as the reader chooses a port.
    if (problem == UsbOpenProblem::NoDriver) {
        return hint +
               std::string(reader == HintReader::Dialog ? " chosen under \"2. Select COM or USB\"" : " with -p COMn");
    }
    return hint;
}

std::string LinkOpenHint(const std::string& linkName, HintReader reader) {
    const LinkChoice choice = ChooseLink(linkName);
    if (choice.kind == LinkChoice::Kind::Usb) {
        return UsbOpenHint(reader);
    }
    if (choice.kind != LinkChoice::Kind::Serial || choice.refusal != 0) {
        return {};
    }
    const std::string device = choice.device.empty() ? SerialLink::DeviceForPort(choice.port) : choice.device;
    // The device's state as the system reports it; opening it again to learn
    // more could disturb a port that another program holds.
    std::error_code error;
    const auto status = std::filesystem::status(PathFromUtf8(device), error);
    if (error) {
        return device + ": " + error.message();
    }
    if (!std::filesystem::exists(status)) {
        return device + ": " + std::make_error_code(std::errc::no_such_file_or_directory).message();
    }
    return device + ": in use by another program, or this user may not open it";
}

}  // namespace kestrel
