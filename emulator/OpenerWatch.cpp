#include "emulator/OpenerWatch.h"

#include <array>
#include <cerrno>

#include <sys/inotify.h>
#include <unistd.h>

namespace kestrel::emulator {

bool OpenerWatch::Watch(const std::string& path) {
    openers_ = 0;
    inotify_.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!inotify_ || ::inotify_add_watch(inotify_.Get(), path.c_str(), IN_OPEN | IN_CLOSE) < 0) {
        const int error = errno;
        inotify_.Reset();
        errno = error;
        return false;
    }
    return true;
}

void OpenerWatch::Stop() {
    inotify_.Reset();
    openers_ = 0;
}

bool OpenerWatch::TakeEvents(const std::function<void()>& lastClosed) {
    alignas(inotify_event) std::array<char, 4096> events;
    bool openedAfresh = false;
    ssize_t n;
    while ((n = ::read(inotify_.Get(), events.data(), events.size())) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events.data() + at);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                openers_ = 0;  // the count is lost: the next open starts afresh
            }
            if ((event->mask & IN_OPEN) != 0) {
                openedAfresh = openedAfresh || openers_ == 0;
                ++openers_;
            }
            if ((event->mask & IN_CLOSE) != 0 && openers_ > 0 && --openers_ == 0) {
                lastClosed();
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return openedAfresh;
}

}  // namespace kestrel::emulator
