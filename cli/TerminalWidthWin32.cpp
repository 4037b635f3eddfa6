#include <io.h>
#include <windows.h>

#include "cli/ConsoleText.h"
#include "cli/TerminalWidth.h"

namespace kestrel::cli {

TerminalWidth::TerminalWidth(std::FILE* stream) : fd_(::_fileno(stream)) {}

// A console window tells of no resize without a message loop: its width is
// read at every redraw, which costs one call.
int TerminalWidth::Columns() {
    const auto handle = static_cast<HANDLE>(ConsoleHandleOf(fd_));
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(handle, &info)) {
        return 0;
    }
    columns_ = info.srWindow.Right - info.srWindow.Left + 1;
    return columns_;
}

bool IsTerminal(std::FILE* stream) {
    DWORD mode = 0;
    return ::GetConsoleMode(static_cast<HANDLE>(ConsoleHandleOf(::_fileno(stream))), &mode) != 0;
}

}  // namespace kestrel::cli
