#include "links/UsbTtyLock.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace kestrel {

namespace {

namespace fs = std::filesystem;

// A line of /proc/locks names the locked file as MAJOR:MINOR:INODE of its
// file system, the device numbers in hex.
bool FileLocked(const struct stat& file) {
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        for (std::string field; fields >> field;) {
            unsigned major = 0;
            unsigned minor = 0;
            unsigned long long inode = 0;
            char end = 0;
            if (std::sscanf(field.c_str(), "%x:%x:%llu%c", &major, &minor, &inode, &end) == 3 &&
                major == major(file.st_dev) && minor == minor(file.st_dev) && inode == file.st_ino) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool UsbDeviceTtyLocked(int bus, const std::vector<std::uint8_t>& ports, const std::string& root) {
    if (ports.empty()) {
        return false;
    }
    std::string name = std::to_string(bus) + "-";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        name += (i == 0 ? "" : ".") + std::to_string(ports[i]);
    }
    // The device's interfaces are its name with ":CONFIG.INTERFACE"; the serial
    // driver puts its ttyUSBn into the interface it has.
    std::error_code error;
    const fs::path devices = fs::path(root) / "sys/bus/usb/devices";
    for (fs::directory_iterator it(devices, error), end; !error && it != end; it.increment(error)) {
        if (!it->path().filename().string().starts_with(name + ":")) {
            continue;
        }
        for (fs::directory_iterator tty(it->path(), error); !error && tty != end; tty.increment(error)) {
            struct stat file {};
            const std::string ttyName = tty->path().filename().string();
            const std::string device = (fs::path(root) / "dev" / ttyName).string();
            if (ttyName.starts_with("tty") && ::stat(device.c_str(), &file) == 0 && FileLocked(file)) {
                return true;
            }
        }
        error.clear();
    }
    return false;
}

}  // namespace kestrel
