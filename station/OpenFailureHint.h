#pragma once

#include <string>
#include <vector>

#include "session/OpenFailure.h"

namespace kestrel {

// Who reads a hint: the command line has said the system's reason on a line of
// its own, and the way to choose another link is an option there and a control
// in the dialog.
enum class HintReader { CommandLine, Dialog };

// What to do about `failure`, in words a user can act on (plug in, permissions,
// another program, a missing driver, a path that is no serial port). Empty when
// there is nothing to add to what the reader has already been told.
std::string DescribeOpenFailure(const OpenFailure& failure, HintReader reader);

// The words for `problem` on this platform; empty when there is nothing to add.
std::string UsbProblemHint(UsbOpenProblem problem);

// Where udev reads its rules from.
inline const std::vector<std::string> kUdevRuleDirs{"/etc/udev/rules.d", "/lib/udev/rules.d", "/usr/lib/udev/rules.d"};
// The rule's path in the first of `dirs` that holds 60-kestrel.rules; empty when none does.
std::string FindUdevRule(const std::vector<std::string>& dirs);

// What decides the advice when this user may not open the box on USB.
struct UsbAccessFacts {
    std::string rulePath;  // the installed rule; empty when none was found
    bool atSeat = true;    // the session has a seat: only then does the rule's uaccess grant it the box
};
std::string UsbAccessDeniedHint(const UsbAccessFacts& facts);

// After EACCES on the serial device `device`, owned by `group` (empty: not
// known): who may open it and how the user becomes one of them.
std::string SerialPermissionHint(const std::string& device, const std::string& group);
// The name of the group that owns `device`; empty where the system has no
// such thing or does not say.
std::string DeviceGroupName(const std::string& device);

}  // namespace kestrel
