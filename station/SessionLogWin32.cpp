#include <algorithm>
#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "base/Utf16.h"
#include "station/SessionLogFile.h"

namespace kestrel {

namespace {

// Closes the descriptor on every path; the lock goes with it.
struct CrtDescriptor {
    int fd;
    ~CrtDescriptor() {
        if (fd >= 0) {
            ::_close(fd);
        }
    }
};

// The last `count` bytes of a file of `size` bytes.
int ReadTail(int fd, long long size, std::size_t count, std::string& text) {
    if (::_lseeki64(fd, size - static_cast<long long>(count), SEEK_SET) < 0) {
        return errno;
    }
    text.resize(count);
    std::size_t done = 0;
    while (done < text.size()) {
        const std::size_t chunk = std::min<std::size_t>(text.size() - done, INT_MAX);
        const int result = ::_read(fd, text.data() + done, static_cast<unsigned>(chunk));
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
    gmtime_s(&utc, &seconds);
    return utc;
}

int AppendUnderLock(const std::string& path, const LogComposer& compose, std::size_t readAtMost) {
    // Binary: the record's line ends are written as they are, LF, as on every platform.
    CrtDescriptor file{::_wopen(WideFromUtf8(path).c_str(), _O_RDWR | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                                _S_IREAD | _S_IWRITE)};
    if (file.fd < 0) {
        return errno;
    }
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file.fd));
    OVERLAPPED whole{};
    // Blocks without a bound: a holder only reads the log and writes one record.
    if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        return EACCES;
    }
    struct _stat64 before {};
    std::string existing;
    int error = ::_fstat64(file.fd, &before) != 0
                    ? errno
                    : ReadTail(file.fd, before.st_size, std::min(static_cast<std::size_t>(before.st_size), readAtMost),
                               existing);
    const std::string text = error == 0 ? compose(existing) : std::string();
    std::size_t written = 0;
    while (error == 0 && written < text.size()) {
        const std::size_t chunk = std::min<std::size_t>(text.size() - written, INT_MAX);
        const int result = ::_write(file.fd, text.data() + written, static_cast<unsigned>(chunk));
        if (result < 0) {
            error = errno;
            break;
        }
        written += static_cast<std::size_t>(result);
    }
    if (error != 0 && written > 0 && ::_chsize_s(file.fd, before.st_size) != 0) {
        error = errno;  // the failed write's reason would hide that the file keeps half a record
    }
    ::UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole);
    const int fd = file.fd;
    file.fd = -1;
    if (::_close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

}  // namespace kestrel
