#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "base/UniqueFd.h"
#include "station/StateFile.h"

namespace kestrel {

namespace {

int ReadAll(int fd, std::string& text) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return errno;
        }
        if (got == 0) {
            return 0;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

int WriteAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            return errno;
        }
        done += static_cast<std::size_t>(put);
    }
    return 0;
}

// The folder's entry for the renamed file reaches the disk too.
int SyncFolder(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return !dir || ::fsync(dir.Get()) != 0 ? errno : 0;
}

}  // namespace

int UpdateStateFile(const std::string& path,
                    const std::function<int(const std::optional<std::string>& text, std::string& next)>& update,
                    const LockWait& wait) {
    const UniqueFd lock(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock) {
        return errno;
    }
    const int fd = lock.Get();
    if (const int error = LockWithin(
            [fd] { return ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0
                          : errno == EINTR                    ? EWOULDBLOCK
                                                              : errno; }, wait);
        error != 0) {
        return error;
    }
    std::optional<std::string> text;
    if (const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); file) {
        text.emplace();
        if (const int error = ReadAll(file.Get(), *text); error != 0) {
            return error;
        }
    } else if (errno != ENOENT) {
        return errno;
    }
    std::string next;
    if (const int error = update(text, next); error != 0) {
        return error;
    }
    const std::string fresh = path + ".new";
    {
        const UniqueFd file(::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!file) {
            return errno;
        }
        if (const int error = WriteAll(file.Get(), next); error != 0) {
            return error;
        }
        if (::fsync(file.Get()) != 0) {
            return errno;
        }
    }
    if (::rename(fresh.c_str(), path.c_str()) != 0) {
        return errno;
    }
    return SyncFolder(path);
}

}  // namespace kestrel
