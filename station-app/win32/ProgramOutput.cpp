#include "station-app/win32/ProgramOutput.h"

#include <windows.h>

#include "base/Utf16.h"

namespace kestrel::stationapp::win32 {

namespace {

void Say(DWORD which, const std::string& text) {
    HANDLE handle = ::GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        ::AttachConsole(ATTACH_PARENT_PROCESS);
        handle = ::GetStdHandle(which);
    }
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0, written = 0;
    if (::GetConsoleMode(handle, &mode)) {
        const std::wstring wide = WideFromUtf8(text);
        ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        ::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

}  // namespace

void SayOnOutput(const std::string& text) { Say(STD_OUTPUT_HANDLE, text); }
void SayOnError(const std::string& text) { Say(STD_ERROR_HANDLE, text); }

}  // namespace kestrel::stationapp::win32
