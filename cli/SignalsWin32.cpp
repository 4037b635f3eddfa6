#include <windows.h>

#include "cli/Signals.h"

namespace kestrel::cli {

namespace {

std::atomic<bool>* cancelFlag = nullptr;

// Runs on a thread of its own that the system starts; the download's waits are
// bounded, so it sees the request within one of them.
BOOL WINAPI CancelOnControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            if (cancelFlag != nullptr) {
                *cancelFlag = true;
            }
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void CancelOnInterrupt(std::atomic<bool>& requested) {
    if (cancelFlag == nullptr) {
        cancelFlag = &requested;
        ::SetConsoleCtrlHandler(CancelOnControl, TRUE);
    }
}

}  // namespace kestrel::cli
