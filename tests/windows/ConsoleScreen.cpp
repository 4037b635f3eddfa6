// ConsoleScreen PROGRAM [ARGUMENT...]: runs PROGRAM in a console window of its
// own, as from a Command Prompt, and prints what the window then shows, line
// by line, in UTF-16LE: what a user would read, whatever the program wrote.
// Its own errors go to stderr.
#include <cstdio>
#include <string>

#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ConsoleScreen PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    HANDLE report = ::GetStdHandle(STD_OUTPUT_HANDLE);  // where the window's text goes, kept before the console
    ::FreeConsole();
    if (!::AllocConsole()) {
        std::fprintf(stderr, "no console: error %lu\n", ::GetLastError());
        return 1;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE screen = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherit, OPEN_EXISTING, 0, nullptr);
    HANDLE keys = ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, 0, nullptr);
    std::wstring command;
    for (int i = 1; i < argc; ++i)
        command += (i > 1 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = keys;
    start.hStdOutput = start.hStdError = screen;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
        std::fprintf(stderr, "cannot start %ls: error %lu\n", argv[1], ::GetLastError());
        return 1;
    }
    ::WaitForSingleObject(process.hProcess, 60000);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ::GetConsoleScreenBufferInfo(screen, &info);
    std::wstring shown;
    for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
        std::wstring line(static_cast<std::size_t>(info.dwSize.X), L' ');
        DWORD read = 0;
        ::ReadConsoleOutputCharacterW(screen, line.data(), static_cast<DWORD>(line.size()), COORD{0, row}, &read);
        line.resize(line.find_last_not_of(L' ') == std::wstring::npos ? 0 : line.find_last_not_of(L' ') + 1);
        shown += line + L"\n";
    }
    DWORD written = 0;
    ::WriteFile(report, shown.data(), static_cast<DWORD>(shown.size() * sizeof(wchar_t)), &written, nullptr);
    return 0;
}
