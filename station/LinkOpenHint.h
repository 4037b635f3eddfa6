#pragma once

#include <string>
#include <vector>

#include "links/UsbDriver.h"

namespace kestrel {

// The words for `problem` on this platform; empty when there is nothing to add.
std::string UsbProblemHint(UsbOpenProblem problem);

// Who reads a hint: the way to choose another link is an option on the
// command line and a control in the dialog.
enum class HintReader { CommandLine, Dialog };

// After a failed open of a USB link: what the driver knows of the reason, in
// words a user can act on (plug in, permissions, another program). Empty when
// the driver knows no more than the status line said.
std::string UsbOpenHint(HintReader reader = HintReader::CommandLine);

// After a failed open of the link `linkName`: the USB hint, or for a serial
// link its device and the system's reason where the system gives one.
// `openError` is the errno the open failed with (0: not known).
std::string LinkOpenHint(const std::string& linkName, int openError = 0, HintReader reader = HintReader::CommandLine);

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
