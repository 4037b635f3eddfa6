#include "station/OpenFailureHint.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/SystemErrorText.h"
#include "session/SourceFile.h"

namespace kestrel {

namespace {

// A serial number that named no box, or more than one: the names that do.
std::string UsbNamesHint(const OpenFailure& failure) {
    std::string names;
    for (const std::string& name : failure.usbAttached) {
        names += (names.empty() ? "" : ", ") + name;
    }
    const std::string serial = failure.name.substr(failure.name.find(':') + 1);
    if (failure.usbSerialShared) {
        return std::to_string(failure.usbAttached.size()) + " boxes share the serial number " + serial + ", so " +
               failure.name + " names none of them: name one by its index (" + names + ")";
    }
    return "no box with the serial number " + serial + " is attached; attached: " + names;
}

std::string SerialOpenHint(const std::string& device, int error, const std::string& group, bool withReason) {
    const std::string advice = error == EACCES ? SerialPermissionHint(device, group) : "";
    if (!withReason) {
        return advice;
    }
    if (error == EACCES) {
        return device + ": " + SystemErrorText(EACCES) + "; " + advice;
    }
    // A system that does not say why (0) refuses a port another program holds.
    if (error == EBUSY || error == 0) {
        return device + ": in use by another program, or this user may not open it";
    }
    // The null device or a plain file opens, and then refuses the line settings.
    if (error == ENOTTY) {
        return device + ": not a serial port";
    }
    return device + ": " + SystemErrorText(error);
}

}  // namespace

OpenFailureFacts FactsOf(const OpenFailure& failure) {
    OpenFailureFacts facts{.failure = failure};
    if (failure.target == OpenFailure::Target::SerialPort && failure.error == EACCES) {
        facts.group = DeviceGroupName(failure.name);
    }
    if (failure.target == OpenFailure::Target::Usb && failure.usbProblem == UsbOpenProblem::AccessDenied) {
        facts.usbAccess = {FindUdevRule(kUdevRuleDirs), SessionHasSeat()};
    }
    facts.driverMissing = failure.target == OpenFailure::Target::Usb && failure.usbAttached.empty() &&
                          failure.usbProblem == UsbOpenProblem::NoDriver;
    return facts;
}

std::string DescribeOpenFailure(const OpenFailureFacts& facts, bool withReason) {
    const OpenFailure& failure = facts.failure;
    switch (failure.target) {
        case OpenFailure::Target::Usb:
            return failure.usbAttached.empty() ? UsbProblemHint(failure.usbProblem, facts.usbAccess)
                                               : UsbNamesHint(failure);
        case OpenFailure::Target::SerialPort:
            return SerialOpenHint(failure.name, failure.error, facts.group, withReason);
        case OpenFailure::Target::SourceFile:
            break;
    }
    // The status line named the file; the system's reason is all there is to add.
    return failure.error == 0 || !withReason ? std::string() : failure.name + ": " + FileErrorText(failure.error);
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
