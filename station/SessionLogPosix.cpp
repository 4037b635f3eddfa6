#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/UniqueFd.h"
#include "station/SessionLogFile.h"

namespace kestrel {

namespace {

// The last `count` bytes of a file of `size` bytes.
int ReadTail(int fd, off_t size, std::size_t count, std::string& text) {
    const off_t from = size - static_cast<off_t>(count);
    text.resize(count);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t result = ::pread(fd, text.data() + done, text.size() - done, from + static_cast<off_t>(done));
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            return result < 0 ? errno : EIO;
        }
        done += static_cast<std::size_t>(result);
    }
    return 0;
}

}  // namespace

std::tm UtcTime(std::time_t seconds) {
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    return utc;
}

int AppendUnderLock(const std::string& path, const LogComposer& compose, std::size_t readAtMost) {
    // Closed on every path; the lock goes with it.
    UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!file) {
        return errno;
    }
    // Blocks without a bound: a holder only reads the log and writes one record.
    while (::flock(file.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    struct stat before {};
    std::string existing;
    if (::fstat(file.Get(), &before) != 0) {
        return errno;
    }
    const auto size = static_cast<std::size_t>(before.st_size);
    if (const int error = ReadTail(file.Get(), before.st_size, std::min(size, readAtMost), existing); error != 0) {
        return error;
    }
    const std::string text = compose(existing);
    std::size_t written = 0;
    int error = 0;
    while (written < text.size()) {
        const ssize_t result = ::write(file.Get(), text.data() + written, text.size() - written);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            break;
        }
        written += static_cast<std::size_t>(result);
    }
    if (error != 0 && written > 0 && ::ftruncate(file.Get(), before.st_size) != 0) {
        error = errno;  // the failed write's reason would hide that the file keeps half a record
    }
    if (::close(file.Release()) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

}  // namespace kestrel
