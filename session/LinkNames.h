#pragma once

#include <string>

namespace kestrel {

// Compares two names the way link names and file extensions are compared: by
// their bytes, letters without regard to case. Negative, zero or positive.
int CompareIgnoringCase(const std::string& left, const std::string& right);

// Which link a name selects.
struct LinkChoice {
    enum class Kind { None, Serial, Usb };
    Kind kind = Kind::None;
    int port = 0;        // "COMn": port n
    std::string device;  // a device path instead of a port
    // Non-zero when the name selects no usable link: 4 for a COM name whose
    // fourth character is not 1 to 8, else the comparison with "USB".
    int refusal = 0;
};

// "COMn" (any case; only the fourth character counts, so "COM12" is port 1),
// a device path beginning with "/", or "USB" (any case).
LinkChoice ChooseLink(const std::string& name);

}  // namespace kestrel
