#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "station/OpenFailureHint.h"

namespace kestrel {

// logind names the seat of a session that has one; an ssh login gets none.
bool SessionHasSeat() {
    const char* seat = std::getenv("XDG_SEAT");
    return seat != nullptr && *seat != '\0';
}

std::string UsbProblemHint(UsbOpenProblem problem, const UsbAccessFacts& access) {
    switch (problem) {
        case UsbOpenProblem::NoDevice:
            return "no box found on USB: is it plugged in and powered? "
                   "(lsusb lists its chip as 0403:6001)";
        case UsbOpenProblem::AccessDenied:
            return UsbAccessDeniedHint(access);
        case UsbOpenProblem::Busy:
            return "the box is in use by another program";
        case UsbOpenProblem::NoDriver:  // libftdi1 is linked in: never missing here
        case UsbOpenProblem::None:
        case UsbOpenProblem::Other:
            break;
    }
    return {};
}

std::string DeviceGroupName(const std::string& device) {
    struct stat status {};
    if (::stat(device.c_str(), &status) != 0) {
        return {};
    }
    long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct group entry {};
    struct group* found = nullptr;
    if (::getgrgid_r(status.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return {};
    }
    return found->gr_name;
}

}  // namespace kestrel
