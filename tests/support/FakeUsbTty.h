#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "support/TempDir.h"

namespace kestrel::testing {

// A pseudo-terminal that a fake sysfs tree (below `root`) shows as the tty of
// a USB serial chip with the serial number given, as the kernel shows a
// /dev/ttyUSBn; `link` is a symbolic link to it, as /dev/serial/by-id has.
struct FakeUsbTty {
    explicit FakeUsbTty(const std::string& serial) {
        namespace fs = std::filesystem;
        ::grantpt(master);
        ::unlockpt(master);
        path = ::ptsname(master);
        struct stat info {};
        ::stat(path.c_str(), &info);
        const fs::path usb = tree.Path() / "sys/devices/pci0/usb1/1-1";
        fs::create_directories(usb / "1-1:1.0/ttyUSB0/tty/ttyUSB0");
        fs::create_directories(tree.Path() / "sys/dev/char");
        tree.Write("sys/devices/pci0/usb1/1-1/idVendor", std::string("0403\n"));
        tree.Write("sys/devices/pci0/usb1/1-1/serial", serial + "\n");
        fs::create_directory_symlink(
            usb / "1-1:1.0/ttyUSB0/tty/ttyUSB0",
            tree.Path() / "sys/dev/char" /
                (std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev))));
        fs::create_symlink(path, link);
    }
    ~FakeUsbTty() { ::close(master); }

    // No byte was written to the tty.
    bool Untouched() const {
        char byte = 0;
        return ::read(master, &byte, 1) < 0 && errno == EAGAIN;
    }

    TempDir tree;
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    std::string path;
    std::string root = tree.Path().string();
    std::string link = (tree.Path() / "by-id-link").string();
};

}  // namespace kestrel::testing
