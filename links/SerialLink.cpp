#include "links/SerialLink.h"

#include <cerrno>

namespace kestrel {

// What both platforms share; the device itself is in SerialLinkPosix.cpp and
// SerialLinkWin32.cpp.

bool SerialLink::Open(int port, std::uint32_t baudRate, std::uint8_t parity, std::uint8_t stopBits,
                      std::uint8_t byteSize) {
    const std::string device = DeviceForPort(port);
    if (device.empty()) {
        Close();
        openError_ = ENOENT;
        return false;
    }
    return Open(device, baudRate, parity, stopBits, byteSize);
}

}  // namespace kestrel
