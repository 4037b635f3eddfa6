#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/UniqueFd.h"
#include "session/SourceFile.h"

namespace kestrel {

namespace {

// Reads until `count` bytes are in or the file ends; -1 on a read error.
ssize_t ReadFully(int fd, std::uint8_t* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, buffer + done, count - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

SourceFileRead ReadSourceFile(const std::string& path, std::uint8_t* buffer, std::uint32_t capacity,
                              std::uint32_t& length, int& error) {
    // Non-blocking, so that opening a FIFO with no writer returns at once.
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (file.Get() < 0 || ::fstat(file.Get(), &info) != 0) {
        error = errno;
        return SourceFileRead::CannotOpen;
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return SourceFileRead::CannotOpen;
    }
    const ssize_t count = ReadFully(file.Get(), buffer, capacity);
    std::uint8_t beyond = 0;
    const ssize_t more = count == static_cast<ssize_t>(capacity) ? ReadFully(file.Get(), &beyond, 1) : 0;
    if (count < 0 || more < 0) {
        error = errno;
        return SourceFileRead::CannotOpen;
    }
    if (more > 0) {
        return SourceFileRead::TooLarge;
    }
    length = static_cast<std::uint32_t>(count);
    return SourceFileRead::Read;
}

}  // namespace kestrel
