#include <signal.h>

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
// session sees the request on its next check.
void CancelOnInterrupt(std::atomic<bool>& requested) {
    cancelFlag = &requested;
    struct sigaction action {};
    action.sa_handler = CancelOnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace kestrel::cli
