#pragma once

#include <string>

#include <windows.h>

namespace kestrel::win32 {

// Moves `window` to the centre of the work area of the screen it is on: a
// dialog made from a template opens at the screen's top-left corner otherwise.
void CentreOnScreen(HWND window);

// A message box centred on `owner` rather than wherever the system puts it,
// so that the question appears over the window it is about.
int MessageBoxOnWindow(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags);

// The file a log is saved to, chosen in the system's save dialog, which offers
// `offered`; empty when cancelled.
std::wstring ChooseLogFile(HWND owner, const std::wstring& offered);

}  // namespace kestrel::win32
