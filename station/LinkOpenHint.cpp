#include "station/LinkOpenHint.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/FileOpen.h"
#include "links/SerialLink.h"
#include "links/UsbDriver.h"
#include "session/LinkNames.h"

namespace kestrel {

std::string UsbOpenHint(HintReader reader) {
    const UsbOpenProblem problem = SystemUsbDriver().LastOpenProblem();
    std::string hint = UsbProblemHint(problem);
    // Without the driver the box's COM port is the way left: named as the reader chooses a port.
    if (problem == UsbOpenProblem::NoDriver && !hint.empty()) {
        hint += reader == HintReader::Dialog ? " chosen under \"2. Select COM or USB\"" : " with -p COMn";
    }
    return hint;
}

std::string LinkOpenHint(const std::string& linkName, int openError, HintReader reader) {
    const LinkChoice choice = ChooseLink(linkName);
    if (choice.kind == LinkChoice::Kind::Usb) {
        return UsbOpenHint(reader);
    }
    if (choice.kind != LinkChoice::Kind::Serial || choice.refusal != 0) {
        return {};
    }
    const std::string device = choice.device.empty() ? SerialLink::DeviceForPort(choice.port) : choice.device;
    if (openError == EACCES) {
        return device + ": " + std::strerror(EACCES) + "; " + SerialPermissionHint(device, DeviceGroupName(device));
    }
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

std::string FindUdevRule(const std::vector<std::string>& dirs) {
    for (const auto& dir : dirs) {
        const std::filesystem::path rule = std::filesystem::path(dir) / "60-kestrel.rules";
        std::error_code error;
        if (std::filesystem::is_regular_file(rule, error)) {
            return rule.string();
        }
    }
    return {};
}

std::string UsbAccessDeniedHint(const UsbAccessFacts& facts) {
    std::string hint = "the box is there but this user may not open it: ";
    if (facts.rulePath.empty()) {
        hint +=
            "the udev rule 60-kestrel.rules is not installed (not in /etc/udev/rules.d, /lib/udev/rules.d "
            "or /usr/lib/udev/rules.d); install the package, or copy packaging/60-kestrel.rules to "
            "/etc/udev/rules.d/ and run sudo udevadm control --reload";
    } else {
        hint += "the udev rule " + facts.rulePath + " is installed";
    }
    if (!facts.atSeat) {
        // uaccess hands a device to the sessions of a seat; an ssh session has none.
        hint +=
            "; this session has no seat (ssh, say), and the rule's uaccess gives the box only to the user at "
            "the machine: in a copy of the rule in /etc/udev/rules.d/ put GROUP=\"plugdev\", MODE=\"0660\" in "
            "place of TAG+=\"uaccess\", run sudo usermod -aG plugdev $USER and log in again";
    }
    return hint + "; then plug the box in again, so that udev applies the rule to it (man kestrel-flash)";
}

std::string SerialPermissionHint(const std::string& device, const std::string& group) {
    // Joining root's group would be no remedy but a hole.
    if (group.empty() || group == "root") {
        return "only root may open " + device + ": ask the machine's administrator for access to it";
    }
    return device + " belongs to the group " + group + ": add yourself to it with sudo usermod -aG " + group +
           " $USER, then log in again";
}

}  // namespace kestrel
