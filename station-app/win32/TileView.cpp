#include "station-app/win32/TileView.h"

#include <algorithm>

#include "base/Utf16.h"

namespace kestrel::stationapp::win32 {

namespace {

constexpr wchar_t kTileClass[] = L"KestrelBoxTile";
constexpr COLORREF kPass = RGB(0, 128, 0);
constexpr COLORREF kFail = RGB(192, 0, 0);

int Scaled(int pixels, UINT dpi) { return ::MulDiv(pixels, static_cast<int>(dpi), 96); }

int LineHeight(HFONT font) {
    HDC dc = ::GetDC(nullptr);
    const HGDIOBJ old = ::SelectObject(dc, font);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    return metrics.tmHeight;
}

// Draws `text` centred in a band of `lines` lines from `top` down; the band's bottom.
int Band(HDC dc, HFONT font, const std::string& text, int lines, const RECT& area, int top, COLORREF colour) {
    ::SelectObject(dc, font);
    RECT band{area.left, top, area.right, top + lines * LineHeight(font)};
    const std::wstring wide = WideFromUtf8(text);
    ::SetTextColor(dc, colour);
    ::DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &band,
                DT_CENTER | DT_WORDBREAK | DT_NOPREFIX | DT_END_ELLIPSIS | DT_EDITCONTROL);
    return band.bottom;
}

ATOM RegisterTileClass() {
    static const ATOM atom = [] {
        WNDCLASSEXW tileClass{};
        tileClass.cbSize = sizeof tileClass;
        tileClass.style = CS_HREDRAW | CS_VREDRAW;
        tileClass.lpfnWndProc = DefWindowProcW;  // replaced as each tile is made
        tileClass.hInstance = ::GetModuleHandleW(nullptr);
        tileClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        tileClass.lpszClassName = kTileClass;
        return ::RegisterClassExW(&tileClass);
    }();
    return atom;
}

}  // namespace

TileView::TileView(HWND parent, int id, const TileFonts& fonts) : fonts_(fonts) {
    RegisterTileClass();
    window_ =
        ::CreateWindowExW(0, kTileClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TileView::Proc));
}

TileView::~TileView() {
    if (::IsWindow(window_)) {
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
}

void TileView::Show(const Tile& tile) {
    const TileTexts texts = TextsOf(tile);
    if (tile.result == result_ && texts.name == texts_.name && texts.stage == texts_.stage &&
        texts.time == texts_.time && texts.result == texts_.result && texts.error == texts_.error &&
        texts.barMaximum == texts_.barMaximum && texts.barValue == texts_.barValue) {
        return;
    }
    result_ = tile.result;
    texts_ = texts;
    const std::string title = texts.name + (texts.result.empty() ? "" : " " + texts.result);
    ::SetWindowTextW(window_, WideFromUtf8(title).c_str());
    ::InvalidateRect(window_, nullptr, TRUE);
}

int TileView::Height(const TileFonts& fonts) {
    return LineHeight(fonts.name) + LineHeight(fonts.stage) + Scaled(24, fonts.dpi) + LineHeight(fonts.time) +
           std::max(Scaled(80, fonts.dpi), LineHeight(fonts.result)) + 2 * LineHeight(fonts.text) +
           Scaled(2 * 2 + 6 * 5, fonts.dpi);
}

LRESULT CALLBACK TileView::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* view = reinterpret_cast<TileView*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (view != nullptr && message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(window, &paint);
        view->Paint(dc);
        ::EndPaint(window, &paint);
        return 0;
    }
    if (message == WM_ERASEBKGND) {
        return 1;  // painted whole in WM_PAINT, without a flicker
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void TileView::Paint(HDC screen) const {
    RECT whole;
    ::GetClientRect(window_, &whole);
    // Into a bitmap first, then onto the screen at once: a tile redrawn ten times a second does not flicker.
    HDC dc = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, whole.right, whole.bottom);
    const HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap);
    const HGDIOBJ oldFont = ::SelectObject(dc, fonts_.text);
    ::FillRect(dc, &whole, ::GetSysColorBrush(COLOR_BTNFACE));
    const int frame = Scaled(2, fonts_.dpi), gap = Scaled(5, fonts_.dpi);
    HBRUSH frameBrush = ::GetSysColorBrush(COLOR_BTNSHADOW);
    for (int i = 0; i < frame; ++i) {
        RECT edge{whole.left + i, whole.top + i, whole.right - i, whole.bottom - i};
        ::FrameRect(dc, &edge, frameBrush);
    }
    RECT area{whole.left + frame + gap, whole.top + frame, whole.right - frame - gap, whole.bottom - frame};
    ::SetBkMode(dc, TRANSPARENT);
    const COLORREF ink = ::GetSysColor(COLOR_BTNTEXT);
    int top = area.top + gap;
    top = Band(dc, fonts_.name, texts_.name, 1, area, top, ink) + gap;
    top = Band(dc, fonts_.stage, texts_.stage, 1, area, top, ink) + gap;

    RECT bar{area.left, top, area.right, top + Scaled(24, fonts_.dpi)};
    ::FillRect(dc, &bar, ::GetSysColorBrush(COLOR_WINDOW));
    RECT filled = bar;
    filled.right = bar.left + static_cast<LONG>(static_cast<double>(bar.right - bar.left) * texts_.barValue /
                                                std::max<std::uint32_t>(texts_.barMaximum, 1));
    ::FillRect(dc, &filled, ::GetSysColorBrush(COLOR_HIGHLIGHT));
    ::FrameRect(dc, &bar, frameBrush);
    if (texts_.barMaximum > 1 || texts_.barValue > 0) {
        // The share done in words over the bar, as Qt's bar shows it.
        const std::wstring percent = std::to_wstring(100ULL * texts_.barValue / texts_.barMaximum) + L"%";
        ::SelectObject(dc, fonts_.text);
        ::SetTextColor(dc, ink);
        ::DrawTextW(dc, percent.c_str(), -1, &bar, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    top = bar.bottom + gap;
    top = Band(dc, fonts_.time, texts_.time, 1, area, top, ink) + gap;

    RECT result{area.left, top, area.right,
                top + std::max(Scaled(80, fonts_.dpi), static_cast<int>(LineHeight(fonts_.result)))};
    if (result_ != Tile::Result::None) {
        HBRUSH colour = ::CreateSolidBrush(result_ == Tile::Result::Pass ? kPass : kFail);
        ::FillRect(dc, &result, colour);
        ::DeleteObject(colour);
    } else {
        ::FillRect(dc, &result, ::GetSysColorBrush(COLOR_WINDOW));
    }
    ::SelectObject(dc, fonts_.result);
    const std::wstring verdict = WideFromUtf8(texts_.result);
    ::SetTextColor(dc, result_ == Tile::Result::None ? ::GetSysColor(COLOR_WINDOWTEXT) : RGB(255, 255, 255));
    ::DrawTextW(dc, verdict.c_str(), static_cast<int>(verdict.size()), &result,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    top = result.bottom + gap;
    Band(dc, fonts_.text, texts_.error, 2, area, top, ink);

    ::BitBlt(screen, 0, 0, whole.right, whole.bottom, dc, 0, 0, SRCCOPY);
    ::SelectObject(dc, oldFont);
    ::SelectObject(dc, oldBitmap);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
}

}  // namespace kestrel::stationapp::win32
