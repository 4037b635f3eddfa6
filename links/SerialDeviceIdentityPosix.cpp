#include "links/SerialDeviceIdentity.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <system_error>

namespace kestrel {

namespace {

namespace fs = std::filesystem;

// From the tty's own directory (.../1-1:1.0/ttyUSB0/tty/ttyUSB0) to the USB
// device (.../1-1): the tty, its port, the interface, then the device.
constexpr int kUsbDeviceSearchDepth = 5;

}  // namespace

std::string UsbSerialNumberOfDevice(const std::string& device, const std::string& root) {
    struct stat info {};
    if (device.empty() || ::stat(device.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return {};
    }
    // The device number leads to the tty whatever name or link the user gave.
    const fs::path sysRoot = fs::path(root) / "sys";
    const std::string number = std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev));
    std::error_code error;
    fs::path dir = fs::canonical(sysRoot / "dev" / "char" / number, error);
    const fs::path sysBase = fs::canonical(sysRoot, error);
    if (error) {
        return {};
    }
    for (int depth = 0; depth < kUsbDeviceSearchDepth && dir != sysBase && dir.has_parent_path(); ++depth) {
        dir = dir.parent_path();
        // The USB device, not one of its interfaces, carries idVendor and serial.
        if (fs::exists(dir / "idVendor", error)) {
            std::ifstream in(dir / "serial");
            std::string serial;
            std::getline(in, serial);
            while (!serial.empty() && (serial.back() == ' ' || serial.back() == '\r')) {
                serial.pop_back();
            }
            return serial;
        }
    }
    return {};
}

}  // namespace kestrel
