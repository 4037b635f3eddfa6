#pragma once

// For the programs that drive a Windows window from outside, as a user would: waits with a bound, a
// control's text, the keys pressed and where the focus is.
#include <windows.h>

#include <dbt.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/Eventually.h"

namespace kestrel::testing {

// What `found` gives once it is truthy, or its last falsy answer after `seconds`; asked every 100 ms, each
// question to a window of another process being a round trip through Wine.
template <typename Found>
auto Await(Found found, int seconds) {
    return Eventually(found, std::chrono::seconds(seconds), std::chrono::milliseconds(100));
}

// The top-level window of `windowClass` captioned `caption` once it is shown, after its initialisation.
inline HWND AwaitShown(const wchar_t* windowClass, const wchar_t* caption) {
    return Await(
        [windowClass, caption] {
            HWND found = ::FindWindowW(windowClass, caption);
            return found != nullptr && ::IsWindowVisible(found) ? found : nullptr;
        },
        60);
}

inline std::wstring Text(HWND window) {
    wchar_t text[1024] = {};
    ::SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

inline int Fail(const char* what) {
    std::printf("FAIL: %s\n", what);
    return 1;
}

// `window` brought to the front, where the keys pressed go, once it had time to get there.
inline void Foreground(HWND window) {
    ::SetForegroundWindow(window);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

// The control with the keyboard focus in the thread of `window`.
inline HWND Focused(HWND window) {
    GUITHREADINFO focus{};
    focus.cbSize = sizeof focus;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &focus);
    return focus.hwndFocus;
}

// Keys as the keyboard sends them, each a virtual key with its flags, or with KEYEVENTF_UNICODE a character typed;
// a key 0 is left out. Then the window has time to answer.
inline void Send(const std::vector<std::pair<WORD, DWORD>>& keys) {
    std::vector<INPUT> input;
    for (const auto& [key, flags] : keys) {
        if (key == 0)
            continue;
        INPUT& sent = input.emplace_back();
        sent.type = INPUT_KEYBOARD;
        ((flags & KEYEVENTF_UNICODE) != 0 ? sent.ki.wScan : sent.ki.wVk) = key;
        sent.ki.dwFlags = flags;
    }
    ::SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

// `key` pressed and let go, `held` (VK_SHIFT, VK_MENU) held down around it.
inline void Press(WORD key, WORD held = 0) {
    Send({{held, 0}, {key, 0}, {key, KEYEVENTF_KEYUP}, {held, KEYEVENTF_KEYUP}});
}

// The message box `owner` shows, captioned `caption`, once it is there.
inline HWND AwaitQuestion(HWND owner, const wchar_t* caption) {
    return Await(
        [owner, caption] {
            HWND found = nullptr;
            do {
                found = ::FindWindowExW(nullptr, found, L"#32770", caption);
            } while (found != nullptr && ::GetWindow(found, GW_OWNER) != owner);
            return found;
        },
        10);
}

// Closes `window` as its close box would, with nothing to ask: 0 once it is gone.
inline int Close(HWND window) {
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    return Await([window] { return !::IsWindow(window); }, 10) ? 0 : Fail("the window did not close");
}

// Prints "height N", N the height in pixels of the control `id` of `window` at this screen's DPI, then closes the
// window as Close does.
inline int PrintHeightAndClose(HWND window, int id) {
    RECT area{};
    ::GetWindowRect(::GetDlgItem(window, id), &area);
    std::printf("height %ld\n", area.bottom - area.top);
    return Close(window);
}

// Closing `window` during a download asks first, in a message box captioned `caption`: its default answer must be
// No, and Enter gives it. What went wrong, or null.
inline const char* CloseAnsweringNoWithEnter(HWND window, const wchar_t* caption) {
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    HWND question = AwaitQuestion(window, caption);
    if (question == nullptr)
        return "closing during a download asked nothing";
    // Once the question has its buttons, its No has the focus.
    HWND no = Await([question] { return ::GetDlgItem(question, IDNO); }, 5);
    if (no == nullptr || !Await([question, no] { return Focused(question) == no; }, 5))
        return "the close question's default answer is not No";
    ::PostMessageW(no, WM_KEYDOWN, VK_RETURN, 0);
    ::PostMessageW(no, WM_KEYUP, VK_RETURN, 0);
    return Await([question] { return !::IsWindow(question); }, 10) ? nullptr
                                                                   : "Enter did not answer the close question";
}

// Windows asks `window` during a download whether the session may end, which it must refuse, and then ends it
// all the same: the window has until its answer to record what it cancels. What went wrong, or null.
inline const char* EndSessionAllTheSame(HWND window) {
    DWORD_PTR answer = 1;
    if (!::SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 10000, &answer))
        return "no answer to WM_QUERYENDSESSION";
    if (answer != FALSE)
        return "the end of the session was not held back during a download";
    ::SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 30000, &answer);
    return nullptr;
}

// What Windows sends every top-level window when a device comes or goes.
inline void TellDeviceChange() {
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
}

}  // namespace kestrel::testing
