#pragma once

// For the programs that drive a Windows window from outside, as a user would: waits with a bound, and a
// control's text.
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

namespace kestrel::testing {

// What `found` gives once it is truthy, or its last falsy answer after `seconds`.
template <typename Found>
auto Await(Found found, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    auto result = found();
    for (; !result && std::chrono::steady_clock::now() < end; result = found())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return result;
}

inline std::wstring Text(HWND window) {
    wchar_t text[1024] = {};
    ::SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

}  // namespace kestrel::testing
