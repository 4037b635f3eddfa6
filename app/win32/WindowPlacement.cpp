#include "app/win32/WindowPlacement.h"

#include <commdlg.h>

#include <algorithm>

#include "app/DialogLogic.h"

namespace kestrel::win32 {

namespace {

constexpr DWORD kLongestPath = 32768;

ScreenArea AreaOf(const RECT& rect) { return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top}; }

void CentreOn(HWND window, const RECT& area) {
    RECT own{};
    ::GetWindowRect(window, &own);
    const ScreenArea place = CentredIn(AreaOf(area), own.right - own.left, own.bottom - own.top);
    ::SetWindowPos(window, nullptr, place.left, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The message box is made inside MessageBox: a hook of this thread sees it
// activated and places it before it is drawn.
thread_local HWND boxOwner = nullptr;
thread_local HHOOK boxHook = nullptr;

LRESULT CALLBACK PlaceMessageBox(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && boxOwner != nullptr) {
        RECT owner{};
        ::GetWindowRect(boxOwner, &owner);
        CentreOn(reinterpret_cast<HWND>(wParam), owner);
        boxOwner = nullptr;  // the box only, not the windows activated after it
    }
    return ::CallNextHookEx(boxHook, code, wParam, lParam);
}

}  // namespace

void CentreOnScreen(HWND window) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        CentreOn(window, monitor.rcWork);
    }
}

int MessageBoxOnWindow(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
    boxOwner = owner;
    boxHook = ::SetWindowsHookExW(WH_CBT, PlaceMessageBox, nullptr, ::GetCurrentThreadId());
    const int answer = ::MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
    if (boxHook != nullptr) {
        ::UnhookWindowsHookEx(boxHook);
        boxHook = nullptr;
    }
    boxOwner = nullptr;
    return answer;
}

std::wstring ChooseLogFile(HWND owner, const std::wstring& offered) {
    std::wstring file(kLongestPath, L'\0');
    file.replace(0, std::min<std::size_t>(offered.size(), kLongestPath - 1), offered, 0, kLongestPath - 1);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"Log files (*.log)\0*.log\0All files (*.*)\0*.*\0";
    dialog.lpstrDefExt = L"log";
    dialog.lpstrTitle = L"Save log";
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = kLongestPath;
    // Records are appended: an existing log is kept and grows, so no overwrite question.
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!::GetSaveFileNameW(&dialog)) {
        return {};
    }
    file.resize(file.find(L'\0'));
    return file;
}

}  // namespace kestrel::win32
