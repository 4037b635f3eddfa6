#pragma once

#include <string>

#include <windows.h>

#include "app/DialogStatus.h"

namespace kestrel::win32 {

// The status lines on a list box and the bar on a progress bar, whose text is
// painted over it, cut to fit, and is whole in the bar's tip.
class Win32DialogView : public DialogView {
public:
    Win32DialogView(HWND list, HWND bar);
    ~Win32DialogView() override;
    Win32DialogView(const Win32DialogView&) = delete;
    Win32DialogView& operator=(const Win32DialogView&) = delete;

    void AddLine(const std::string& line) override;
    void ClearLines() override;
    int LineCount() const override;
    void ShowTopLine(int line) override;
    void ShowBar(const BarView& bar) override;
    void RepaintLines() override;

private:
    static LRESULT CALLBACK BarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam);
    void PaintBarText() const;

    HWND list_;
    HWND bar_;
    WNDPROC barProc_ = nullptr;
    std::wstring barText_;
    HWND barTip_ = nullptr;  // the bar's whole text, which the bar may show cut short
};

}  // namespace kestrel::win32
