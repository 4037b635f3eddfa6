#include "cli/UsbHint.h"

#include <cerrno>

#include "links/SerialLink.h"
#include "session/LinkNames.h"
#include "station/LinkOpenHint.h"

namespace kestrel::cli {

void PrintUsbHint(const std::string& linkName, std::FILE* out) {
    if (ChooseLink(linkName).kind != LinkChoice::Kind::Usb) {
        return;
    }
    if (const std::string hint = UsbOpenHint(); !hint.empty()) {
        std::fprintf(out, "kestrel-flash: %s\n", hint.c_str());
    }
}

void PrintSerialPermissionHint(const std::string& linkName, int openError, std::FILE* out) {
    const LinkChoice choice = ChooseLink(linkName);
    if (openError != EACCES || choice.kind != LinkChoice::Kind::Serial || choice.refusal != 0) {
        return;
    }
    const std::string device = choice.device.empty() ? SerialLink::DeviceForPort(choice.port) : choice.device;
    const std::string hint = SerialPermissionHint(device, DeviceGroupName(device));
    std::fprintf(out, "kestrel-flash: %s\n", hint.c_str());
}

}  // namespace kestrel::cli
