#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

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

int ReadRange(int fd, std::uint64_t from, std::uint64_t to, const std::function<void(std::string_view)>& take) {
    if (from < to && ::_lseeki64(fd, static_cast<long long>(from), SEEK_SET) < 0) {
        return errno;
    }
    std::string piece(std::size_t{1} << 20, '\0');
    while (from < to) {
        const auto want = static_cast<unsigned>(std::min<std::uint64_t>(piece.size(), to - from));
        const int result = ::_read(fd, piece.data(), want);
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
    gmtime_s(&utc, &seconds);
    return utc;
}

int AppendUnderLock(const std::string& path, const LogComposer& compose, const LockWait& wait) {
    // Binary: the record's line ends are written as they are, LF, as on every platform.
    CrtDescriptor file{::_wopen(WideFromUtf8(path).c_str(), _O_RDWR | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                                _S_IREAD | _S_IWRITE)};
    if (file.fd < 0) {
        return errno;
    }
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file.fd));
    OVERLAPPED whole{};
    if (const int locked = LockWithin(
            [handle, &whole] {
                if (::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                                 &whole)) {
                    return 0;
                }
                return ::GetLastError() == ERROR_LOCK_VIOLATION ? EWOULDBLOCK : EACCES;
            },
            wait);
        locked != 0) {
        return locked;
    }
    struct _stat64 before {};
    int error = ::_fstat64(file.fd, &before) != 0 ? errno : 0;
    const LogReader read = [fd = file.fd, &error](std::uint64_t from, std::uint64_t to, const auto& take) {
        const int failed = ReadRange(fd, from, to, take);
        error = error != 0 ? error : failed;
        return failed;
    };
    const std::string text = error == 0 ? compose(static_cast<std::uint64_t>(before.st_size), read) : std::string();
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
