#include "app/win32/Win32DialogView.h"

#include <commctrl.h>

#include "links/Utf16.h"

namespace kestrel::win32 {

namespace {

constexpr wchar_t kViewProperty[] = L"KestrelDialogView";

}  // namespace

Win32DialogView::Win32DialogView(HWND list, HWND bar) : list_(list), bar_(bar) {
    ::SetPropW(bar_, kViewProperty, this);
    barProc_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(bar_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32DialogView::BarProc)));
}

Win32DialogView::~Win32DialogView() {
    if (::IsWindow(bar_)) {
        ::SetWindowLongPtrW(bar_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(barProc_));
        ::RemovePropW(bar_, kViewProperty);
    }
}

void Win32DialogView::AddLine(const std::string& line) {
    const std::wstring text = WideFromUtf8(line);
    ::SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32DialogView::ClearLines() { ::SendMessageW(list_, LB_RESETCONTENT, 0, 0); }

int Win32DialogView::LineCount() const { return static_cast<int>(::SendMessageW(list_, LB_GETCOUNT, 0, 0)); }

void Win32DialogView::ShowTopLine(int line) { ::SendMessageW(list_, LB_SETTOPINDEX, static_cast<WPARAM>(line), 0); }

void Win32DialogView::ShowBar(const BarView& bar) {
    barText_ = WideFromUtf8(bar.text);
    ::SendMessageW(bar_, PBM_SETRANGE32, 0, bar.maximum);
    ::SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(bar.value), 0);
    ::SetWindowTextW(bar_, barText_.c_str());  // what a screen reader or a test reads
    ::InvalidateRect(bar_, nullptr, TRUE);
}

void Win32DialogView::RepaintLines() {
    ::RedrawWindow(list_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

// A progress bar paints no text of its own: the bar's text goes over it.
LRESULT CALLBACK Win32DialogView::BarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* view = static_cast<Win32DialogView*>(::GetPropW(bar, kViewProperty));
    const LRESULT result = ::CallWindowProcW(view->barProc_, bar, message, wParam, lParam);
    if (message == WM_PAINT && !view->barText_.empty()) {
        HDC dc = ::GetDC(bar);
        RECT area;
        ::GetClientRect(bar, &area);
        const HGDIOBJ oldFont =
            ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(::GetParent(bar), WM_GETFONT, 0, 0)));
        ::SetBkMode(dc, TRANSPARENT);
        ::DrawTextW(dc, view->barText_.c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
        ::SelectObject(dc, oldFont);
        ::ReleaseDC(bar, dc);
    }
    return result;
}

}  // namespace kestrel::win32
