#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "base/Utf16.h"
#include "cli/ConsoleText.h"

namespace kestrel::cli {

namespace {

HANDLE consoles[3] = {};  // by descriptor: the console a standard stream showed on, when it goes through the pipe
std::thread* pump = nullptr;

// The length of `bytes` up to the last whole UTF-8 character: the rest comes with the next read.
std::size_t WholeCharacters(const std::string& bytes) {
    std::size_t back = 0;
    while (back < 3 && back < bytes.size() &&
           (static_cast<unsigned char>(bytes[bytes.size() - 1 - back]) & 0xC0) == 0x80) {
        ++back;
    }
    if (back == bytes.size()) {
        return bytes.size();
    }
    const auto lead = static_cast<unsigned char>(bytes[bytes.size() - 1 - back]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return length > back + 1 ? bytes.size() - 1 - back : bytes.size();
}

void Show(HANDLE console, const std::string& bytes) {
    const std::wstring text = WideFromUtf8(bytes);
    DWORD written = 0;
    ::WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Pump(HANDLE from, HANDLE console) {
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(from, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        const std::size_t whole = WholeCharacters(pending);
        Show(console, pending.substr(0, whole));
        pending.erase(0, whole);
    }
    if (!pending.empty()) {
        Show(console, pending);
    }
    ::CloseHandle(from);
}

// At the program's end: its last lines through the pipe, and the pipe closed, before the process goes.
void EndPump() {
    std::fflush(stdout);
    std::fflush(stderr);
    for (const int fd : {1, 2}) {
        if (consoles[fd] != nullptr) {
            ::_close(fd);
        }
    }
    pump->join();
}

// A handle of the console of its own: the C library closes the descriptor's handle when it moves it to the pipe.
HANDLE ConsoleOf(HANDLE stream) {
    DWORD mode = 0;
    HANDLE own = nullptr;
    return ::GetConsoleMode(stream, &mode) && ::DuplicateHandle(::GetCurrentProcess(), stream, ::GetCurrentProcess(),
                                                                &own, 0, FALSE, DUPLICATE_SAME_ACCESS)
               ? own
               : nullptr;
}

}  // namespace

void WriteConsolesAsUtf16() {
    consoles[1] = ConsoleOf(::GetStdHandle(STD_OUTPUT_HANDLE));
    consoles[2] = ConsoleOf(::GetStdHandle(STD_ERROR_HANDLE));
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if ((consoles[1] == nullptr && consoles[2] == nullptr) || !::CreatePipe(&readEnd, &writeEnd, nullptr, 0)) {
        consoles[1] = consoles[2] = nullptr;
        return;
    }
    for (const int fd : {1, 2}) {
        HANDLE copy = nullptr;
        if (consoles[fd] == nullptr || !::DuplicateHandle(::GetCurrentProcess(), writeEnd, ::GetCurrentProcess(), &copy,
                                                          0, FALSE, DUPLICATE_SAME_ACCESS)) {
            continue;
        }
        // In text mode, as the console's descriptor was: a line still ends in CR LF.
        const int temporary = ::_open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_WRONLY | _O_TEXT);
        ::_dup2(temporary, fd);
        ::_close(temporary);
        // The system's handle stays the console's: a question about the window (its width) still reaches it.
        ::SetStdHandle(fd == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, consoles[fd]);
    }
    ::CloseHandle(writeEnd);
    pump = new std::thread(Pump, readEnd, consoles[1] != nullptr ? consoles[1] : consoles[2]);
    std::atexit(EndPump);
}

void* ConsoleHandleOf(int fd) {
    return fd >= 0 && fd < 3 && consoles[fd] != nullptr ? consoles[fd] : reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

}  // namespace kestrel::cli
