#include "emulator/PseudoTerminal.h"

#include <array>
#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace kestrel::emulator {

PseudoTerminal::~PseudoTerminal() { Close(); }

bool PseudoTerminal::Create() {
    Close();
    masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd_ < 0 || ::grantpt(masterFd_) != 0 || ::unlockpt(masterFd_) != 0) {
        return Fail();
    }
    std::array<char, 128> name{};
    if (::ptsname_r(masterFd_, name.data(), name.size()) != 0) {
        return Fail();
    }
    slavePath_ = name.data();
    slaveFd_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd_ < 0) {
        return Fail();
    }
    // Raw before anyone opens it: a fresh terminal would echo the tool's bytes
    // back and turn CR into LF.
    termios settings{};
    if (::tcgetattr(slaveFd_, &settings) != 0) {
        return Fail();
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(slaveFd_, TCSANOW, &settings) != 0) {
        return Fail();
    }
    const int flags = ::fcntl(masterFd_, F_GETFL);
    if (flags < 0 || ::fcntl(masterFd_, F_SETFL, flags | O_NONBLOCK) != 0) {
        return Fail();
    }
    error_ = 0;
    return true;
}

bool PseudoTerminal::Fail() {
    const int error = errno;
    Close();
    error_ = error;
    return false;
}

void PseudoTerminal::Close() {
    if (slaveFd_ >= 0) {
        ::close(slaveFd_);
        slaveFd_ = -1;
    }
    if (masterFd_ >= 0) {
        ::close(masterFd_);
        masterFd_ = -1;
    }
    slavePath_.clear();
}

}  // namespace kestrel::emulator
