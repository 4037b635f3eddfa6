#include "app/win32/Win32DialogView.h"

#include <commctrl.h>

#include "app/TextFit.h"
#include "base/Utf16.h"

namespace kestrel::win32 {

namespace {

constexpr wchar_t kViewProperty[] = L"KestrelDialogView";
constexpr LPARAM kTipWidth = 480;

// The tip over the whole bar; its text is read at once, when the tip is added or updated.
TTTOOLINFOW BarTool(HWND bar, const std::wstring& text) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = ::GetParent(bar);
    tool.uId = reinterpret_cast<UINT_PTR>(bar);
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    return tool;
}

}  // namespace

Win32DialogView::Win32DialogView(HWND list, HWND bar) : list_(list), bar_(bar) {
    ::SetPropW(bar_, kViewProperty, this);
    barTip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, ::GetParent(bar_), nullptr,
                                nullptr, nullptr);
    TTTOOLINFOW tool = BarTool(bar_, barText_);
    ::SendMessageW(barTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    ::SendMessageW(barTip_, TTM_SETMAXTIPWIDTH, 0, kTipWidth);  // a long reason wraps in the tip
    barProc_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(bar_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32DialogView::BarProc)));
}

Win32DialogView::~Win32DialogView() {
    if (::IsWindow(barTip_)) {
        ::DestroyWindow(barTip_);
    }
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
    TTTOOLINFOW tool = BarTool(bar_, barText_);
    ::SendMessageW(barTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
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
        view->PaintBarText();
    }
    return result;
}

// Cut in the middle, as the Qt dialog does: a reason keeps its device and its last words.
void Win32DialogView::PaintBarText() const {
    HDC dc = ::GetDC(bar_);
    RECT area;
    ::GetClientRect(bar_, &area);
    const HGDIOBJ oldFont =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(::GetParent(bar_), WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    const auto measure = [dc](const std::string& text) {
        const std::wstring wide = WideFromUtf8(text);
        SIZE size{};
        ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
        return static_cast<int>(size.cx);
    };
    const int width = static_cast<int>(area.right - area.left) - 2 * static_cast<int>(metrics.tmAveCharWidth);
    const std::wstring shown = WideFromUtf8(ElideMiddle(Utf8FromWide(barText_), width, measure));
    ::SetBkMode(dc, TRANSPARENT);
    ::DrawTextW(dc, shown.c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    ::SelectObject(dc, oldFont);
    ::ReleaseDC(bar_, dc);
}

}  // namespace kestrel::win32
