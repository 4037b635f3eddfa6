#pragma once

#include <string>

#include "links/UsbDriver.h"

namespace kestrel {

// The words for `problem` on this platform; null when there is nothing to add.
const char* UsbProblemHint(UsbOpenProblem problem);

// Who reads a hint: the way to choose another link is an option on the
// command line and a control in the dialog.
enum class HintReader { CommandLine, Dialog };

// After a failed open of a USB link: what the driver knows of the reason, in
// words a user can act on (plug in, permissions, another program). Empty when
// the driver knows no more than the status line said.
std::string UsbOpenHint(HintReader reader = HintReader::CommandLine);

// After a failed open of the link `linkName`: the USB hint, or for a serial
// link its device and the system's reason where the system gives one.
std::string LinkOpenHint(const std::string& linkName, HintReader reader = HintReader::CommandLine);

}  // namespace kestrel
