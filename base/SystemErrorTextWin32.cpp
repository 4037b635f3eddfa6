#include <windows.h>

#include <cerrno>
#include <cstring>

#include "base/SystemErrorText.h"
#include "base/Utf16.h"

namespace kestrel {

namespace {

constexpr DWORD kDirectoryNotSupported = 336;  // ERROR_DIRECTORY_NOT_SUPPORTED, which older headers lack

// The Windows error the C library turns into each errno the tool reports (the
// reverse of its mapping, the most common error of each).
DWORD WindowsErrorOf(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENOSPC:
            return ERROR_DISK_FULL;
        case EROFS:
            return ERROR_WRITE_PROTECT;
        case EBUSY:
            return ERROR_BUSY;
        case EMFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EIO:
            return ERROR_GEN_FAILURE;
        case ENODEV:
        case ENXIO:
            return ERROR_DEV_NOT_EXIST;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EISDIR:
            return kDirectoryNotSupported;
        case ETIMEDOUT:
            return ERROR_TIMEOUT;
        default:
            return 0;
    }
}

}  // namespace

std::string SystemErrorText(int error) {
    const DWORD windowsError = WindowsErrorOf(error);
    wchar_t* text = nullptr;
    const DWORD length =
        windowsError == 0 ? 0
                          : ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                                             nullptr, windowsError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0) {
        return std::strerror(error);
    }
    std::wstring message(text, length);
    ::LocalFree(text);
    // Without its line end and full stop, as strerror's words come: the line goes on after them at times.
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' || message.back() == L'.')) {
        message.pop_back();
    }
    return Utf8FromWide(message);
}

}  // namespace kestrel
