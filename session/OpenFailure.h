#pragma once

#include <string>
#include <vector>

#include "links/UsbDriver.h"

namespace kestrel {

// What a download could not open, and why, as the open itself said: made where
// the open failed and handed to the front end, so that nobody asks the system
// again afterwards (and learns of another moment, or another thread's open).
struct OpenFailure {
    enum class Target { SourceFile, SerialPort, Usb };
    Target target = Target::SourceFile;
    // The file's path, the serial device's path, or the USB link's name.
    std::string name;
    // The system's error number of the open (file and serial port); 0 when not known.
    int error = 0;
    // USB: the driver's reason for the open.
    UsbOpenProblem usbProblem = UsbOpenProblem::None;
    // USB, a box named by a serial number that did not open: the names of the
    // boxes attached then, by index where a serial number is shared; with
    // `usbSerialShared` those of the boxes that share the one asked for.
    std::vector<std::string> usbAttached{};
    bool usbSerialShared = false;
};

}  // namespace kestrel
