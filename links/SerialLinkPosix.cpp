#include "links/SerialLink.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "base/UniqueFd.h"
#include "links/SerialLineSettings.h"

namespace kestrel {

namespace {

using Steady = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kByteInterval{500};

// The time a block of `count` bytes is allowed, in either direction.
Steady::duration BlockAllowance(std::uint32_t count) {
    return std::chrono::milliseconds(5 * static_cast<std::uint64_t>(count) + 10);
}

// Blocks in poll until `events` or `deadline`; the events seen, 0 at the deadline.
short WaitFor(int fd, short events, Steady::time_point deadline) {
    for (;;) {
        const auto now = Steady::now();
        if (now >= deadline) {
            return 0;
        }
        // Rounded up, so that a wait never ends just before its deadline and spins.
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(ms, INT_MAX)));
        if (ready > 0) {
            return entry.revents;
        }
        if (ready < 0 && errno != EINTR) {
            return POLLERR;
        }
    }
}

bool SameLine(const termios& applied, const termios& wanted) {
    constexpr tcflag_t framing = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
    return (applied.c_cflag & framing) == (wanted.c_cflag & framing) && cfgetospeed(&applied) == cfgetospeed(&wanted) &&
           cfgetispeed(&applied) == cfgetispeed(&wanted);
}

// DTR held off and RTS held on, as the box expects. A pseudo-terminal has no
// modem lines at all; that is no failure.
bool SetModemLines(int fd) {
    int dtr = TIOCM_DTR;
    if (::ioctl(fd, TIOCMBIC, &dtr) != 0) {
        return errno == ENOTTY || errno == EINVAL;
    }
    int rts = TIOCM_RTS;
    return ::ioctl(fd, TIOCMBIS, &rts) == 0;
}

}  // namespace

struct SerialLink::Port {
    UniqueFd fd;
    bool exclusive = false;  // this link made the device exclusive and must undo it
    bool haveSavedSettings = false;
    termios savedSettings{};  // the device's settings as found, restored at Close
};

void SerialLink::PortDeleter::operator()(Port* port) const { delete port; }

std::string SerialLink::DeviceForPort(int port) {
    if (port < 1) {
        return {};
    }
    return "/dev/ttyS" + std::to_string(port - 1);
}

int SerialLink::OpenPort(const std::string& device, std::uint32_t baudRate, std::uint8_t parity, std::uint8_t stopBits,
                         std::uint8_t byteSize) {
    // Non-blocking: every wait happens in poll, against the link's own deadlines.
    port_.reset(new Port);
    Port& port = *port_;
    port.fd.Reset(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    const int fd = port.fd.Get();
    if (fd < 0) {
        return errno;
    }
    if (!::isatty(fd)) {
        return ENOTTY;
    }
    // Not shared with any other opener. TIOCEXCL alone does not stop a
    // privileged opener, so a second instance of the tool run as root is kept
    // out by the lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK ? EBUSY : errno;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        return errno;
    }
    port.exclusive = true;

    if (::tcgetattr(fd, &port.savedSettings) != 0) {
        return errno;
    }
    port.haveSavedSettings = true;
    const auto line = MakeLineSettings(port.savedSettings, baudRate, parity, stopBits, byteSize);
    if (!line) {
        return EINVAL;
    }
    if (::tcsetattr(fd, TCSANOW, &*line) != 0) {
        return errno;
    }
    // tcsetattr succeeds when any part of the change took; check the parts that matter.
    termios applied{};
    if (::tcgetattr(fd, &applied) != 0) {
        return errno;
    }
    if (!SameLine(applied, *line)) {
        return EINVAL;
    }
    if (!SetModemLines(fd)) {
        return errno;
    }
    // The driver's own buffers (at least 4 KiB each way) stand in for the 2048-byte
    // queues; what arrived while nobody listened is not part of this exchange.
    ::tcflush(fd, TCIFLUSH);
    return 0;
}

std::uint32_t SerialLink::QueuedOutputBytes() const {
    int queued = 0;
    return ::ioctl(port_->fd.Get(), TIOCOUTQ, &queued) == 0 && queued > 0 ? static_cast<std::uint32_t>(queued) : 0;
}

void SerialLink::ReleasePort(bool restoreSettings) {
    if (!port_) {
        return;
    }
    const int fd = port_->fd.Get();
    if (port_->haveSavedSettings && restoreSettings) {
        ::tcsetattr(fd, TCSANOW, &port_->savedSettings);
    }
    // The exclusive mode belongs to the device, not to this descriptor: it would
    // outlive the close while another descriptor (a line emulator's) holds the device.
    if (port_->exclusive) {
        ::ioctl(fd, TIOCNXCL);
    }
    port_.reset();
}

void SerialLink::DrainPort() { ::tcdrain(port_->fd.Get()); }

bool SerialLink::WritePort(const std::uint8_t* data, std::uint32_t count) {
    const int fd = port_->fd.Get();
    const auto deadline = Steady::now() + BlockAllowance(count);
    std::uint32_t sent = 0;
    bool lineTrouble = false;
    while (sent < count) {
        const ssize_t n = ::write(fd, data + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::uint32_t>(n);
            lineTrouble = false;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            broken_ = true;
            return false;
        }
        if (lineTrouble) {  // poll reported an error or hang-up and the device still takes nothing
            broken_ = true;
            return false;
        }
        const short events = WaitFor(fd, POLLOUT, deadline);
        if (events == 0) {
            return false;
        }
        lineTrouble = (events & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    }
    return true;
}

std::int32_t SerialLink::ReadPort(std::uint8_t* buffer, std::uint32_t count, std::uint32_t maxWaitMs) {
    const int fd = port_->fd.Get();
    const auto callDeadline =
        Steady::now() + std::min<Steady::duration>(BlockAllowance(count), std::chrono::milliseconds(maxWaitMs));
    auto deadline = callDeadline;
    std::uint32_t got = 0;
    bool lineTrouble = false;
    while (got < count) {
        const ssize_t n = ::read(fd, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
            // The interval starts with the first byte: a silent line waits the whole allowance.
            deadline = std::min(callDeadline, Steady::now() + kByteInterval);
            lineTrouble = false;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // With at least one byte wanted, end of file means the other side hung up.
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || lineTrouble) {
            broken_ = true;
            break;
        }
        const short events = WaitFor(fd, POLLIN, deadline);
        if (events == 0) {
            break;
        }
        lineTrouble = (events & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    }
    return static_cast<std::int32_t>(got);
}

}  // namespace kestrel
