#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "cli/TerminalWidth.h"

namespace kestrel::cli {

namespace {

// Counted by SIGWINCH: the width is read again only after a resize, not at every redraw.
std::atomic<unsigned> resizes{0};
static_assert(std::atomic<unsigned>::is_always_lock_free, "touched from a signal handler");

extern "C" void CountResize(int) { resizes.fetch_add(1, std::memory_order_relaxed); }

int ReadColumns(int fd) {
    winsize size{};
    return ::ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

}  // namespace

TerminalWidth::TerminalWidth(std::FILE* stream) : fd_(::fileno(stream)) {
    if (::isatty(fd_) != 1) {
        fd_ = -1;
        return;
    }
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_handler = CountResize;
        action.sa_flags = SA_RESTART;  // a resize must not break a read or a write of the download
        sigemptyset(&action.sa_mask);
        sigaction(SIGWINCH, &action, nullptr);
    });
    seenResizes_ = resizes.load(std::memory_order_relaxed);
    columns_ = ReadColumns(fd_);
}

int TerminalWidth::Columns() {
    const unsigned now = resizes.load(std::memory_order_relaxed);
    if (fd_ >= 0 && now != seenResizes_) {
        seenResizes_ = now;
        columns_ = ReadColumns(fd_);
    }
    return columns_;
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

}  // namespace kestrel::cli
