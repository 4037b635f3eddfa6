#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "station-app/UsbHotplug.h"

namespace kestrel::stationapp {

namespace {

// libudev's monitor of the usb subsystem, and a pipe whose write ends the wait.
class UdevHotplugEvents : public HotplugEvents {
public:
    UdevHotplugEvents(udev* context, udev_monitor* monitor, int wakeRead, int wakeWrite)
        : udev_(context), monitor_(monitor), wakeRead_(wakeRead), wakeWrite_(wakeWrite) {}
    ~UdevHotplugEvents() override {
        udev_monitor_unref(monitor_);
        udev_unref(udev_);
        ::close(wakeRead_);
        ::close(wakeWrite_);
    }

    bool WaitForChange() override {
        pollfd fds[2] = {{udev_monitor_get_fd(monitor_), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            if (fds[1].revents != 0) {
                return false;
            }
            if (udev_device* device = udev_monitor_receive_device(monitor_)) {
                udev_device_unref(device);
                return true;
            }
        }
    }

    void Interrupt() override {
        const char byte = 1;
        (void)!::write(wakeWrite_, &byte, 1);
    }

private:
    udev* udev_;
    udev_monitor* monitor_;
    int wakeRead_, wakeWrite_;
};

}  // namespace

std::unique_ptr<HotplugEvents> SystemHotplugEvents(std::string& error) {
    udev* context = udev_new();
    udev_monitor* monitor = context != nullptr ? udev_monitor_new_from_netlink(context, "udev") : nullptr;
    int wake[2] = {-1, -1};
    if (monitor == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_device") < 0 ||
        udev_monitor_enable_receiving(monitor) < 0 || ::pipe2(wake, O_CLOEXEC) != 0) {
        error = std::string("cannot watch the USB bus: ") + std::strerror(errno);
        if (monitor != nullptr) {
            udev_monitor_unref(monitor);
        }
        if (context != nullptr) {
            udev_unref(context);
        }
        return nullptr;
    }
    return std::make_unique<UdevHotplugEvents>(context, monitor, wake[0], wake[1]);
}

std::unique_ptr<HotplugEvents> SystemPortEvents() { return nullptr; }

}  // namespace kestrel::stationapp
