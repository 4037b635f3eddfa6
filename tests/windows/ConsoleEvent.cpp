// ConsoleEvent IMAGE EVENT: tells the process that runs the program IMAGE (its
// full Windows path) of the console event EVENT that ends it (2 its console
// window closed, 5 the user signing out, 6 the machine shutting down) as Windows
// does: kernel32's CtrlRoutine on a new thread of that process, then the end of
// the process once the routine has returned, or after 5 seconds, whichever comes
// first. Ctrl-C and Ctrl-Break Wine sends to a program itself.
#include <cstdio>
#include <cwchar>
#include <string>

#include <windows.h>

#include <tlhelp32.h>

namespace {

constexpr DWORD kWindowsGivesMs = 5000;

HANDLE ProcessOf(std::wstring image) {
    for (wchar_t& c : image)
        c = c == L'/' ? L'\\' : c;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    HANDLE found = nullptr;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more && found == nullptr;
         more = ::Process32NextW(snapshot, &entry)) {
        HANDLE process = ::OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID);
        wchar_t path[MAX_PATH * 4] = {};
        DWORD size = MAX_PATH * 4;
        if (process != nullptr && ::QueryFullProcessImageNameW(process, 0, path, &size) &&
            ::_wcsicmp(path, image.c_str()) == 0)
            found = process;
        else if (process != nullptr)
            ::CloseHandle(process);
    }
    ::CloseHandle(snapshot);
    return found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::printf("usage: ConsoleEvent IMAGE EVENT\n");
        return 2;
    }
    const DWORD event = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
    HANDLE process = ProcessOf(argv[1]);
    if (process == nullptr) {
        std::printf("no process runs %ls\n", argv[1]);
        return 1;
    }
    // At the same address in every process, as the system's libraries are.
    auto* routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine")));
    HANDLE thread = routine != nullptr
                        ? ::CreateRemoteThread(process, nullptr, 0, routine,
                                               reinterpret_cast<void*>(static_cast<UINT_PTR>(event)), 0, nullptr)
                        : nullptr;
    if (thread == nullptr) {
        std::printf("cannot start CtrlRoutine in the process: error %lu\n", ::GetLastError());
        return 1;
    }
    const HANDLE either[] = {thread, process};
    const DWORD waited = ::WaitForMultipleObjects(2, either, FALSE, kWindowsGivesMs);
    if (::WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
        std::printf("%s: ended by Windows\n", waited == WAIT_TIMEOUT ? "5 s passed" : "the routine returned");
        ::TerminateProcess(process, STATUS_CONTROL_C_EXIT);
    }
    return 0;
}
