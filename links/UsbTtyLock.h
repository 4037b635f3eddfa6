#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// Whether the kernel's serial driver has a tty for the USB device at `bus` and
// `ports` (the device's place on the bus, as sysfs names it: 1-1.4) that a
// program holds locked, as the serial link locks the tty it opens: detaching
// the driver would tear the port from under that program. sysfs and /dev are
// read below `root` (another root lets tests build a fake tree); the locks are
// the running kernel's.
bool UsbDeviceTtyLocked(int bus, const std::vector<std::uint8_t>& ports, const std::string& root = "/");

}  // namespace kestrel
