#include <windows.h>

#include <cerrno>

#include "base/Utf16.h"
#include "station/StateFile.h"

namespace kestrel {

namespace {

struct Handle {
    HANDLE handle;
    ~Handle() {
        if (handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
        }
    }
};

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_DISK_FULL:
            return ENOSPC;
        default:
            return EIO;
    }
}

}  // namespace

int UpdateStateFile(const std::string& path,
                    const std::function<int(const std::optional<std::string>& text, std::string& next)>& update,
                    const LockWait& wait) {
    const Handle lock{::CreateFileW(WideFromUtf8(path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (lock.handle == INVALID_HANDLE_VALUE) {
        return ErrnoOf(::GetLastError());
    }
    OVERLAPPED whole{};
    if (const int error = LockWithin(
            [&lock, &whole] {
                if (::LockFileEx(lock.handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                                 MAXDWORD, &whole)) {
                    return 0;
                }
                return ::GetLastError() == ERROR_LOCK_VIOLATION ? EWOULDBLOCK : EACCES;
            },
            wait);
        error != 0) {
        return error;
    }
    std::optional<std::string> text;
    {
        const Handle file{::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
        if (file.handle != INVALID_HANDLE_VALUE) {
            text.emplace();
            char buffer[4096];
            DWORD got = 0;
            while (::ReadFile(file.handle, buffer, sizeof buffer, &got, nullptr) && got > 0) {
                text->append(buffer, got);
            }
        } else if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
            return ErrnoOf(::GetLastError());
        }
    }
    std::string next;
    if (const int error = update(text, next); error != 0) {
        return error;
    }
    const std::wstring fresh = WideFromUtf8(path + ".new");
    {
        const Handle file{::CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr)};
        DWORD put = 0;
        if (file.handle == INVALID_HANDLE_VALUE ||
            !::WriteFile(file.handle, next.data(), static_cast<DWORD>(next.size()), &put, nullptr) ||
            put != next.size() || !::FlushFileBuffers(file.handle)) {
            return ErrnoOf(::GetLastError());
        }
    }
    if (!::MoveFileExW(fresh.c_str(), WideFromUtf8(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return ErrnoOf(::GetLastError());
    }
    ::UnlockFileEx(lock.handle, 0, MAXDWORD, MAXDWORD, &whole);
    return 0;
}

}  // namespace kestrel
