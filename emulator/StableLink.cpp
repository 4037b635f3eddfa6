#include "emulator/StableLink.h"

#include <array>
#include <cerrno>
#include <cstdio>

#include <unistd.h>

namespace kestrel::emulator {

namespace {

// Where the symbolic link at `path` points; empty when it is no symbolic link.
std::string LinkTarget(const std::string& path) {
    std::array<char, 4096> target{};
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size() - 1);
    return n > 0 ? std::string(target.data(), static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

StableLink::~StableLink() {
    // Only while it is still this link's own: someone may have put another file there since.
    if (!linkedTo_.empty() && LinkTarget(path_) == linkedTo_) {
        ::unlink(path_.c_str());
    }
}

bool StableLink::PointAt(const std::string& device) {
    if (path_.empty()) {
        return true;
    }
    if (linkedTo_.empty()) {
        // Made only where nothing is: fails with EEXIST over any file, another box's link included.
        if (::symlink(device.c_str(), path_.c_str()) != 0) {
            return false;
        }
        linkedTo_ = device;
        return true;
    }
    // After a hang-up, while the link is still this one's: replaced in one
    // step, so that a tool opening it never finds it missing.
    if (LinkTarget(path_) != linkedTo_) {
        errno = EEXIST;
        return false;
    }
    const std::string fresh = path_ + "." + std::to_string(::getpid()) + ".new";
    if (::symlink(device.c_str(), fresh.c_str()) != 0) {
        return false;
    }
    if (::rename(fresh.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        ::unlink(fresh.c_str());
        errno = error;
        return false;
    }
    linkedTo_ = device;
    return true;
}

}  // namespace kestrel::emulator
