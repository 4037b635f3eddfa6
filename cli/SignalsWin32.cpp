#include <windows.h>

#include <cstdlib>

#include "cli/ConsoleText.h"
#include "cli/Signals.h"

namespace kestrel::cli {

namespace {

// Windows ends a console program 5 s after it told it that its console window
// closed, that the user signs out or that the machine shuts down (or as soon
// as its handler returns): a little less, so that the program ends by itself.
constexpr DWORD kEndWaitMs = 4500;

std::atomic<bool>* cancelFlag = nullptr;
HANDLE runEnded = nullptr;  // set as the program ends, its records written

void SignalRunEnded() { ::SetEvent(runEnded); }

// Runs on a thread of its own that the system starts; the download's waits are
// bounded, so it sees the request within one of them.
BOOL WINAPI CancelOnControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            *cancelFlag = true;
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // The process is ended once this returns: the download is cancelled, and its cancelled record
            // written, before it does.
            *cancelFlag = true;
            ::WaitForSingleObject(runEnded, kEndWaitMs);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void CancelOnInterrupt(std::atomic<bool>& requested) {
    if (cancelFlag == nullptr) {
        cancelFlag = &requested;
        runEnded = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::atexit(SignalRunEnded);
        ::SetConsoleCtrlHandler(CancelOnControl, TRUE);
    }
}

// Windows hands a new file a handle of its own, never a standard stream's; a
// console window, though, is given its text as UTF-16.
void HoldClosedStandardStreams() { WriteConsolesAsUtf16(); }

}  // namespace kestrel::cli
