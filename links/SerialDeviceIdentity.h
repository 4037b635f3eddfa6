#pragma once

#include <string>

namespace kestrel {

// The USB serial number of the chip behind a serial device (a /dev/ttyUSBn,
// or any link to one), read from the sysfs tree below `root` (another root
// lets tests build a fake tree). Empty when the device is not a USB serial
// port, has no serial number, or cannot be looked at. On Windows always empty:
// a COM name says nothing of the chip behind it.
std::string UsbSerialNumberOfDevice(const std::string& device, const std::string& root = "/");

}  // namespace kestrel
