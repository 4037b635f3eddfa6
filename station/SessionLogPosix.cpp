#include <algorithm>
#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/UniqueFd.h"
#include "station/SessionLogFile.h"

namespace kestrel {

namespace {

int ReadRange(int fd, std::uint64_t from, std::uint64_t to, const std::function<void(std::string_view)>& take) {
    std::string piece(std::size_t{1} << 20, '\0');
    while (from < to) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), to - from));
        const ssize_t result = ::pread(fd, piece.data(), want, static_cast<off_t>(from));
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            return result < 0 ? errno : EIO;
        }
        take(std::string_view(piece.data(), static_cast<std::size_t>(result)));
        from += static_cast<std::uint64_t>(result);
    }
    return 0;
}

}  // namespace

std::tm UtcTime(std::time_t seconds) {
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    return utc;
}

int AppendUnderLock(const std::string& path, const LogComposer& compose, const LockWait& wait) {
    // Closed on every path; the lock goes with it.
    UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!file) {
        return errno;
    }
    const int fd = file.Get();
    if (const int error = LockWithin(
            [fd] {
                const int result = ::flock(fd, LOCK_EX | LOCK_NB);
                return result == 0 ? 0 : errno == EINTR ? EWOULDBLOCK : errno;
            },
            wait);
        error != 0) {
        return error;
    }
    struct stat before {};
    if (::fstat(fd, &before) != 0) {
        return errno;
    }
    int readError = 0;
    const LogReader read = [fd, &readError](std::uint64_t from, std::uint64_t to, const auto& take) {
        const int error = ReadRange(fd, from, to, take);
        readError = readError != 0 ? readError : error;
        return error;
    };
    const std::string text = compose(static_cast<std::uint64_t>(before.st_size), read);
    if (readError != 0) {
        return readError;
    }
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
