// The station window's controls: their fonts for the screen's DPI, their making
// and their places, and the fields remembered for the next run.
#include "station-app/win32/StationFrame.h"

#include <algorithm>
#include <tuple>

#include <commctrl.h>

#include "base/Utf16.h"
#include "station-app/FirmwareSummary.h"
#include "station-app/win32/StationControls.h"

namespace kestrel::stationapp::win32 {

namespace {

// Where QSettings keeps the Qt window's fields on Windows: one place, whichever window ran last.
constexpr wchar_t kSettingsKey[] = L"Software\\Kestrel\\kestrel-station";
constexpr int kTilesPerRow = 4;
constexpr DWORD kLongestValue = 32768;

// The labels of the form, in the order of their fields.
struct Label {
    const wchar_t* text;
    int field;
};
constexpr Label kLabels[] = {{L"&Firmware:", kFirmwareField}, {L"Approved:", kApproval},
                             {L"&Operator:", kOperatorField}, {L"&Station:", kStationField},
                             {L"&Lot:", kLotField},           {L"&Ports:", kPortsField},
                             {L"Sc&an label:", kScanField}};

int LabelId(int field) {
    for (int i = 0; i < static_cast<int>(std::size(kLabels)); ++i) {
        if (kLabels[i].field == field) {
            return kFirstLabel + i;
        }
    }
    return 0;
}

std::string Remembered(const wchar_t* name) {
    std::wstring value(kLongestValue, L'\0');
    DWORD size = static_cast<DWORD>((value.size() - 1) * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_SZ, nullptr, value.data(), &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    value.resize(value.find(L'\0'));
    return Utf8FromWide(value);
}

int LineHeight(HWND window, HFONT font) {
    HDC dc = ::GetDC(window);
    const HGDIOBJ old = ::SelectObject(dc, font);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, old);
    ::ReleaseDC(window, dc);
    return metrics.tmHeight;
}

int TextWidth(HWND window, HFONT font, const std::wstring& text) {
    HDC dc = ::GetDC(window);
    const HGDIOBJ old = ::SelectObject(dc, font);
    RECT measured{0, 0, 0, 0};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measured, DT_CALCRECT | DT_SINGLELINE);
    ::SelectObject(dc, old);
    ::ReleaseDC(window, dc);
    return measured.right;
}

}  // namespace

// The window's icons in the pixels of the screen it is on.
void StationFrame::FitIcons() {
    for (const auto& [which, size, held] :
         {std::tuple{ICON_BIG, SM_CXICON, &bigIcon_}, std::tuple{ICON_SMALL, SM_CXSMICON, &smallIcon_}}) {
        const int pixels = ::GetSystemMetricsForDpi(size, dpi_);
        HICON icon = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON, pixels, pixels, 0));
        ::SendMessageW(window_, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
        if (*held != nullptr) {
            ::DestroyIcon(*held);
        }
        *held = icon;
    }
}

void StationFrame::MakeFonts() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi_);
    const auto make = [this, &metrics](int points, bool bold) {
        LOGFONTW font = metrics.lfMessageFont;
        font.lfHeight = -::MulDiv(points, static_cast<int>(dpi_), 72);
        font.lfWidth = 0;
        font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
        return ::CreateFontIndirectW(&font);
    };
    const TileFonts old = fonts_;
    const HFONT oldCounters = countersFont_;
    // As large as the Qt window's: read from a step back.
    fonts_ = {make(18, true), make(12, false), make(14, false), make(40, true), make(12, false), dpi_};
    countersFont_ = make(18, false);
    if (window_ != nullptr) {
        for (HWND child = ::GetWindow(window_, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.text), TRUE);
        }
        if (HWND counters = Item(kCounters)) {
            ::SendMessageW(counters, WM_SETFONT, reinterpret_cast<WPARAM>(countersFont_), TRUE);
        }
    }
    for (HFONT font : {old.name, old.stage, old.time, old.result, old.text, oldCounters}) {
        if (font != nullptr) {
            ::DeleteObject(font);
        }
    }
}

void StationFrame::MakeControls() {
    const auto make = [this](const wchar_t* type, const wchar_t* text, DWORD style, int id, DWORD exStyle = 0) {
        HWND control = ::CreateWindowExW(exStyle, type, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window_,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.text), FALSE);
        return control;
    };
    const auto label = [&](int field) {
        make(WC_STATICW, kLabels[LabelId(field) - kFirstLabel].text, SS_LEFT, LabelId(field));
    };
    const auto field = [&](int id, const std::string& text) {
        label(id);
        make(WC_EDITW, WideFromUtf8(text).c_str(), WS_TABSTOP | ES_AUTOHSCROLL, id, WS_EX_CLIENTEDGE);
    };
    // Created in the order of the keyboard: the tab order is the order of creation.
    make(WC_BUTTONW, L"Firmware and lot", BS_GROUPBOX | WS_CLIPSIBLINGS, kLotGroup);
    make(WC_BUTTONW, L"Boxes", BS_GROUPBOX | WS_CLIPSIBLINGS, kBoxesGroup);
    make(WC_BUTTONW, L"Lot", BS_GROUPBOX | WS_CLIPSIBLINGS, kCountersGroup);
    const auto remembered = [](const wchar_t* name, bool given, const std::string& value) {
        return given ? value : Remembered(name);
    };
    field(kFirmwareField, remembered(L"firmware", !commandLine_.firmware.empty(), commandLine_.firmware));
    make(WC_BUTTONW, L"&Browse...", WS_TABSTOP | BS_PUSHBUTTON, kBrowseButton);
    make(WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, kFirmwareFacts);
    label(kApproval);
    make(WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, kApproval);
    field(kOperatorField, remembered(L"operator", commandLine_.operatorGiven, commandLine_.operatorName));
    field(kStationField, remembered(L"station", commandLine_.stationGiven, commandLine_.stationName));
    field(kLotField, remembered(L"lot", commandLine_.lotGiven, commandLine_.lot));
    std::string ports;
    for (const auto& port : commandLine_.ports) {
        ports += (ports.empty() ? "" : " ") + port;
    }
    field(kPortsField, commandLine_.ports.empty() ? Remembered(L"ports") : ports);
    make(WC_BUTTONW, L"Every &USB box plugged in", WS_TABSTOP | BS_AUTOCHECKBOX, kAllUsbBox);
    ::SendMessageW(Item(kAllUsbBox), BM_SETCHECK,
                   commandLine_.allUsb || Remembered(L"allUsb") == "true" ? BST_CHECKED : BST_UNCHECKED, 0);
    make(WC_BUTTONW, L"S&tart lot", WS_TABSTOP | BS_PUSHBUTTON, kStartButton);
    make(WC_BUTTONW, L"St&op lot", WS_TABSTOP | BS_PUSHBUTTON | WS_DISABLED, kStopButton);
    make(WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, kMessage);
    // A barcode scanner types like a keyboard and ends with Enter: the label goes to the next box that appears.
    field(kScanField, "");
    ::SendMessageW(Item(kScanField), EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"scan the next box's label"));
    make(WC_STATICW, L"Passed 0\nFailed 0", SS_LEFT | SS_NOPREFIX, kCounters);
    ::SendMessageW(Item(kCounters), WM_SETFONT, reinterpret_cast<WPARAM>(countersFont_), FALSE);
    make(WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, kDatabaseLink);
    // Not a tab stop, as in the Qt window: the results are read, not worked.
    make(WC_LISTBOXW, L"", WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL, kLastResults, WS_EX_CLIENTEDGE);
    // The frames go below everything they hold.
    for (const int group : {kLotGroup, kBoxesGroup, kCountersGroup}) {
        ::SetWindowPos(Item(group), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    ShowFirmware();
}

void StationFrame::Layout() {
    RECT client;
    ::GetClientRect(window_, &client);
    if (Item(kFirmwareField) == nullptr || client.right <= 0) {
        return;
    }
    const int margin = Scale(12), gap = Scale(8);
    const int line = LineHeight(window_, fonts_.text);
    const int fieldHeight = line + Scale(8), row = fieldHeight + Scale(5);
    // The labels' column as wide as the widest label, so none is cut whatever the DPI or the font.
    int labelWidth = 0;
    for (const auto& label : kLabels) {
        labelWidth = std::max(labelWidth, TextWidth(window_, fonts_.text, label.text));
    }
    labelWidth += Scale(12);
    const auto place = [this](int id, int x, int y, int width, int height) {
        ::SetWindowPos(Item(id), nullptr, x, y, std::max(width, 0), std::max(height, 0), SWP_NOZORDER | SWP_NOACTIVATE);
    };
    const int left = margin + gap, right = client.right - margin - gap;
    const int fieldLeft = left + labelWidth;
    int y = margin + line + gap / 2;
    const auto labelAt = [&](int field, int top, int height) {
        place(LabelId(field), left, top + (height - line) / 2, labelWidth, line);
    };
    const int browseWidth = TextWidth(window_, fonts_.text, L"Browse...") + Scale(32);
    labelAt(kFirmwareField, y, fieldHeight);
    place(kFirmwareField, fieldLeft, y, right - fieldLeft - browseWidth - gap, fieldHeight);
    place(kBrowseButton, right - browseWidth, y, browseWidth, fieldHeight);
    y += row;
    place(kFirmwareFacts, fieldLeft, y, right - fieldLeft, 2 * line);
    y += 2 * line + gap / 2;
    labelAt(kApproval, y, line);
    place(kApproval, fieldLeft, y, right - fieldLeft, line);
    y += line + gap;
    for (const int field : {kOperatorField, kStationField, kLotField, kPortsField}) {
        labelAt(field, y, fieldHeight);
        place(field, fieldLeft, y, right - fieldLeft, fieldHeight);
        y += row;
    }
    place(kAllUsbBox, fieldLeft, y, right - fieldLeft, fieldHeight);
    y += row;
    const int buttonWidth =
        std::max(TextWidth(window_, fonts_.text, L"Start lot"), TextWidth(window_, fonts_.text, L"Stop lot")) +
        Scale(40);
    place(kStartButton, left, y, buttonWidth, fieldHeight);
    place(kStopButton, left + buttonWidth + gap, y, buttonWidth, fieldHeight);
    const int messageLeft = left + 2 * (buttonWidth + gap);
    place(kMessage, messageLeft, y, right - messageLeft, 2 * line + gap);
    y += 2 * line + gap;
    labelAt(kScanField, y, fieldHeight);
    place(kScanField, fieldLeft, y, right - fieldLeft, fieldHeight);
    y += row + gap;
    place(kLotGroup, margin, margin, client.right - 2 * margin, y - margin);

    // The lot's counters at the bottom; the boxes take what is left between.
    const int countersLine = LineHeight(window_, countersFont_);
    // The link to the records database, on two lines under the counters, for a lot that has one.
    const int databaseHeight = commandLine_.database.empty() ? 0 : 2 * line;
    const int lotHeight = line + 4 * countersLine + 2 * gap + gap + databaseHeight;
    const int lotTop = client.bottom - margin - lotHeight;
    place(kCountersGroup, margin, lotTop, client.right - 2 * margin, lotHeight);
    const int half = (right - left - gap) / 2;
    place(kCounters, left, lotTop + line + gap / 2, half, 4 * countersLine + gap);
    place(kDatabaseLink, left, lotTop + line + gap / 2 + 4 * countersLine + gap, half, databaseHeight);
    place(kLastResults, left + half + gap, lotTop + line + gap / 2, right - left - half - gap, lotHeight - line - gap);

    const int boxesTop = y + gap;
    place(kBoxesGroup, margin, boxesTop, client.right - 2 * margin, lotTop - gap - boxesTop);
    const int tileWidth = (right - left - (kTilesPerRow - 1) * gap) / kTilesPerRow;
    const int tileHeight = TileView::Height(fonts_);
    for (std::size_t i = 0; i < tileOrder_.size(); ++i) {
        const int column = static_cast<int>(i) % kTilesPerRow, rowIndex = static_cast<int>(i) / kTilesPerRow;
        ::SetWindowPos(tiles_[tileOrder_[i]]->Window(), HWND_TOP, left + column * (tileWidth + gap),
                       boxesTop + line + gap / 2 + rowIndex * (tileHeight + gap), tileWidth, tileHeight,
                       SWP_NOACTIVATE);
    }
}

void StationFrame::Remember() const {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    const auto keep = [key](const wchar_t* name, const std::string& value) {
        const std::wstring wide = WideFromUtf8(value);
        ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                         static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    };
    keep(L"firmware", Text(kFirmwareField));
    keep(L"operator", Text(kOperatorField));
    keep(L"station", Text(kStationField));
    keep(L"lot", Text(kLotField));
    keep(L"ports", Text(kPortsField));
    keep(L"allUsb", ::SendMessageW(Item(kAllUsbBox), BM_GETCHECK, 0, 0) == BST_CHECKED ? "true" : "false");
    ::RegCloseKey(key);
}

}  // namespace kestrel::stationapp::win32
