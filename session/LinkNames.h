#pragma once

#include <string>
#include <vector>

#include "links/UsbDriver.h"

namespace kestrel {

// Which link a name selects.
struct LinkChoice {
    enum class Kind { None, Serial, Usb };
    Kind kind = Kind::None;
    int port = 0;        // "COMn": port n
    std::string device;  // a device path instead of a port
    // "USB:N" or "USB:SERIAL": the text after the colon, naming one device
    // only; empty for "USB", which takes the first device that opens.
    std::string usbSelector;
    // Non-zero when the name selects no usable link: 4 for a COM name without
    // a port number, else the comparison with "USB".
    int refusal = 0;
};

// A device path, any name holding a "/" ("/dev/ttyUSB0", or "./A" in the
// current folder), or a Windows device name beginning with "\\.\"; "COMn" (any
// case; n a decimal number from 1 without leading zeros, so "COM12" is port 12
// and "COM0", "COM01" or "COM1X" select nothing); "USB" (any case), or "USB:"
// followed by a device index or serial number. "USB:" with nothing after it,
// or a bare word, selects nothing.
LinkChoice ChooseLink(const std::string& name);

// Why `name` can never name a link (a bare word, "COM0"), with the names that
// can; empty when it can.
std::string PortNameProblem(const std::string& name);

// The name that selects `device` and no other: "USB:" and its serial number,
// so that a box keeps its name wherever it is plugged in, or "USB:" and its
// index when it has no serial number.
std::string UsbLinkName(const UsbDeviceInfo& device);
// The same among `attached`, which holds `device`: "USB:" and its index when
// another box there has its serial number, so that the name opens that box only.
std::string UsbLinkName(const UsbDeviceInfo& device, const std::vector<UsbDeviceInfo>& attached);

// The device index that a "USB:" selector names among `devices`: the device
// whose serial number equals it (so that a box keeps its name wherever it is
// plugged in), else the number itself when it is all digits; -1 when neither.
int FindUsbDevice(const std::string& selector, const std::vector<UsbDeviceInfo>& devices);

}  // namespace kestrel
