#pragma once

#include <string>

namespace kestrel {

// After a failed open of a USB link: what the driver knows of the reason, in
// words a user can act on (plug in, permissions, another program). Empty when
// the driver knows no more than the status line said.
std::string UsbOpenHint();

// After a failed open of the link `linkName`: the USB hint, or for a serial
// link its device and the system's reason where the system gives one.
std::string LinkOpenHint(const std::string& linkName);

}  // namespace kestrel
