#include "emulator/PseudoTerminal.h"

#include <array>
#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace kestrel::emulator {

bool PseudoTerminal::Create() {
    Close();
    master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    const int master = master_.Get();
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        return Fail();
    }
    std::array<char, 128> name{};
    if (::ptsname_r(master, name.data(), name.size()) != 0) {
        return Fail();
    }
    slavePath_ = name.data();
    slave_.Reset(::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave_) {
        return Fail();
    }
    // Raw before anyone opens it: a fresh terminal would echo the tool's bytes
    // back and turn CR into LF.
    termios settings{};
    if (::tcgetattr(slave_.Get(), &settings) != 0) {
        return Fail();
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(slave_.Get(), TCSANOW, &settings) != 0) {
        return Fail();
    }
    const int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
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
    slave_.Reset();
    master_.Reset();
    slavePath_.clear();
}

}  // namespace kestrel::emulator
