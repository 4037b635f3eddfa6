#include <fcntl.h>
#include <signal.h>

#include <cerrno>

#include "cli/Signals.h"

namespace kestrel::cli {

namespace {

std::atomic<bool>* cancelFlag = nullptr;

extern "C" void CancelOnSignal(int) {
    if (cancelFlag != nullptr) {
        *cancelFlag = true;
    }
}

}  // namespace

// Without SA_RESTART, so that a wait in the device returns at once and the
// session sees the request on its next check. A closed terminal (SIGHUP)
// cancels like SIGINT; SIGPIPE is ignored, so that a write to a gone reader
// fails instead of ending the process.
void CancelOnInterrupt(std::atomic<bool>& requested) {
    cancelFlag = &requested;
    struct sigaction action {};
    action.sa_handler = CancelOnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

void HoldClosedStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // Read-only, so that writing to the stream still fails.
            ::open("/dev/null", O_RDONLY);
        }
    }
}

}  // namespace kestrel::cli
