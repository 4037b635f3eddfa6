#pragma once

#include <string>
#include <vector>

#include "session/OpenFailure.h"

namespace kestrel {

// Where udev reads its rules from.
inline const std::vector<std::string> kUdevRuleDirs{"/etc/udev/rules.d", "/lib/udev/rules.d", "/usr/lib/udev/rules.d"};
// The rule's path in the first of `dirs` that holds 60-kestrel.rules; empty when none does.
std::string FindUdevRule(const std::vector<std::string>& dirs);

// What decides the advice when this user may not open the box on USB.
struct UsbAccessFacts {
    std::string rulePath;  // the installed rule; empty when none was found
    bool atSeat = true;    // the session has a seat: only then does the rule's uaccess grant it the box
};

// What decides the advice after an open failed: the open's own facts (its
// errno, the USB driver's reason) and what this machine says of them.
struct OpenFailureFacts {
    OpenFailure failure;
    std::string group{};         // owns the serial device refused with EACCES; empty: not known
    UsbAccessFacts usbAccess{};  // when the box on USB refused this user
    // No USB driver: the box's COM port is the way left, which each front end
    // names as its user chooses a port.
    bool driverMissing = false;
};

// The facts of `failure`, asking this machine for the device's group, the udev rule and the seat.
OpenFailureFacts FactsOf(const OpenFailure& failure);

// What to do about the failure, in words a user can act on (plug in,
// permissions, another program, a missing driver, a path that is no serial
// port) and that name no control of a front end. `withReason`: for a reader
// that was not told the system's reason on a line of its own. Empty when there
// is nothing to add.
std::string DescribeOpenFailure(const OpenFailureFacts& facts, bool withReason);

// The words for `problem` on this platform; empty when there is nothing to add.
std::string UsbProblemHint(UsbOpenProblem problem, const UsbAccessFacts& access);
// This session's seat; true where the system has no such thing.
bool SessionHasSeat();

// The advice when the box on USB refused this user.
std::string UsbAccessDeniedHint(const UsbAccessFacts& facts);

// After EACCES on the serial device `device`, owned by `group` (empty: not
// known): who may open it and how the user becomes one of them.
std::string SerialPermissionHint(const std::string& device, const std::string& group);
// The name of the group that owns `device`; empty where the system has no
// such thing or does not say.
std::string DeviceGroupName(const std::string& device);

}  // namespace kestrel
