#include "station-app/win32/StationFrame.h"

#include <algorithm>
#include <cstdio>

#include <commctrl.h>

#include "base/Utf16.h"
#include "station-app/StationTexts.h"
#include "station-app/win32/ProgramOutput.h"
#include "station-app/win32/StationControls.h"
#include "station-app/win32/WindowPicture.h"

namespace kestrel::stationapp::win32 {

namespace {

constexpr wchar_t kFrameClass[] = L"KestrelStation";
constexpr UINT kStartLotMessage = WM_APP + 1;
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 100;
constexpr int kLastResultsShown = 10;
constexpr wchar_t kCloseQuestion[] = L"Boxes are being flashed. Cancel their downloads and close?";
constexpr wchar_t kEndReason[] = L"Boxes are being flashed: ending now would cancel their downloads.";

}  // namespace

StationFrame::StationFrame(HINSTANCE instance, StationCommandLine commandLine)
    : instance_(instance), commandLine_(std::move(commandLine)) {}

StationFrame::~StationFrame() {
    EndLot();
    tiles_.clear();
    for (HFONT font : {fonts_.name, fonts_.stage, fonts_.time, fonts_.result, fonts_.text, countersFont_}) {
        if (font != nullptr) {
            ::DeleteObject(font);
        }
    }
    for (HICON icon : {bigIcon_, smallIcon_}) {
        if (icon != nullptr) {
            ::DestroyIcon(icon);
        }
    }
}

bool StationFrame::Create(int show) {
    WNDCLASSEXW frameClass{};
    frameClass.cbSize = sizeof frameClass;
    frameClass.lpfnWndProc = &StationFrame::FrameProc;
    frameClass.hInstance = instance_;
    frameClass.hIcon = ::LoadIconW(instance_, MAKEINTRESOURCEW(1));
    frameClass.hIconSm =
        static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                        ::GetSystemMetrics(SM_CYSMICON), 0));
    frameClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frameClass.lpszClassName = kFrameClass;
    if (::RegisterClassExW(&frameClass) == 0) {
        return false;
    }
    // Not WS_CLIPCHILDREN: the frame's background shows through the group boxes, which paint only their edges.
    constexpr DWORD style = WS_OVERLAPPEDWINDOW;
    constexpr DWORD exStyle = WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;
    if (::CreateWindowExW(exStyle, kFrameClass, kStationCaption, style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, nullptr, nullptr, instance_, this) == nullptr) {
        return false;
    }
    // As wide as the Qt window, and tall enough for the form, a row of tiles and the lot, in the pixels of this screen.
    RECT size{0, 0, Scale(1100), Scale(860)};
    ::AdjustWindowRectExForDpi(&size, style, FALSE, exStyle, dpi_);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const int width = std::min<int>(size.right - size.left, work.right - work.left);
    const int height = std::min<int>(size.bottom - size.top, work.bottom - work.top);
    ::SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
                   work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    ::ShowWindow(window_, show);
    ::UpdateWindow(window_);
    if (!commandLine_.firmware.empty()) {
        ::PostMessageW(window_, kStartLotMessage, 0, 0);
    }
    return true;
}

int StationFrame::Run() {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        // The dialog manager's keys: Tab between the fields, Alt and the underlined letter.
        if (window_ == nullptr || !::IsDialogMessageW(window_, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return exitStatus_;
}

LRESULT CALLBACK StationFrame::FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* frame = static_cast<StationFrame*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        frame->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(frame));
    }
    auto* frame = reinterpret_cast<StationFrame*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    return frame != nullptr ? frame->Handle(message, wParam, lParam)
                            : ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT StationFrame::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            dpi_ = ::GetDpiForWindow(window_);
            MakeFonts();
            MakeControls();
            FitIcons();
            return 0;
        case WM_SIZE:
            Layout();
            return 0;
        case WM_DPICHANGED: {
            // Moved to a screen of another DPI: new fonts, the place Windows suggests, a new layout.
            dpi_ = HIWORD(wParam);
            MakeFonts();
            FitIcons();
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                           suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            Layout();
            ::InvalidateRect(window_, nullptr, TRUE);
            return 0;
        }
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
            ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_ACTIVATE:
            // As a dialog does: the focus leaves with the window and comes back to the field it left.
            if (LOWORD(wParam) == WA_INACTIVE) {
                lastFocus_ = ::GetFocus();
            } else if (HIWORD(wParam) == 0) {
                ::SetFocus(lastFocus_ != nullptr && ::IsChild(window_, lastFocus_) ? lastFocus_ : Item(kFirmwareField));
            }
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_NEXTDLGCTL: {
            // What a dialog does for the dialog manager, which sends it for Alt and a label's letter.
            HWND next = LOWORD(lParam) != 0 ? reinterpret_cast<HWND>(wParam)
                                            : ::GetNextDlgTabItem(window_, ::GetFocus(), wParam != 0);
            if (next != nullptr) {
                ::SetFocus(next);
                if (::SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) {
                    ::SendMessageW(next, EM_SETSEL, 0, -1);
                }
            }
            return 0;
        }
        case WM_TIMER:
            if (wParam == kRefreshTimer) {
                Refresh();
            }
            return 0;
        case kStartLotMessage:
            if (!StartLot() && commandLine_.count > 0) {
                SayOnError("kestrel-station: the lot cannot start: " + Text(kMessage) + "\n");
                exitStatus_ = 2;
                ::DestroyWindow(window_);
            }
            return 0;
        case WM_CLOSE:
            if (OnClose()) {
                ::DestroyWindow(window_);
            }
            return 0;
        case WM_QUERYENDSESSION:
            // Signing out or shutting down during downloads: Windows asks the user, naming the reason.
            if (run_ && run_->Logic().Running() > 0) {
                blocking_ = ::ShutdownBlockReasonCreate(window_, kEndReason) != FALSE;
                return FALSE;
            }
            return TRUE;
        case WM_ENDSESSION:
            if (wParam != 0) {
                // Ended all the same: every download is cancelled and its result recorded before this returns,
                // after which Windows may end the process at any moment.
                exitStatus_ = 9;
                Remember();
                EndLot();
                ::DestroyWindow(window_);
            }
            return 0;
        case WM_DESTROY:
            EndLot();
            if (blocking_) {
                ::ShutdownBlockReasonDestroy(window_);
            }
            window_ = nullptr;
            ::PostQuitMessage(exitStatus_);
            return 0;
        default:
            return ::DefWindowProcW(window_, message, wParam, lParam);
    }
}

void StationFrame::OnCommand(int id, int code) {
    switch (id) {
        case kBrowseButton:
            ChooseFirmware();
            break;
        case kFirmwareField:
            if (code == EN_KILLFOCUS) {
                ShowFirmware();
            }
            break;
        case kStartButton:
            StartLot();
            break;
        case kStopButton:
            StopLot();
            break;
        case IDOK:
            // Enter, from the dialog manager: a barcode scanner ends each label with it.
            if (::GetFocus() == Item(kScanField)) {
                ScanLabel();
            }
            break;
        default:
            break;  // Enter elsewhere and Escape (IDCANCEL) do nothing: the window stays
    }
}

std::string StationFrame::Text(int id) const {
    HWND control = Item(id);
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return Utf8FromWide(text);
}

void StationFrame::SetText(int id, const std::string& text) {
    if (Text(id) != text) {
        ::SetWindowTextW(Item(id), WideFromUtf8(text).c_str());
    }
}

bool StationFrame::StartLot() {
    EndLot();
    Remember();
    tiles_.clear();  // the last lot's boxes
    tileOrder_.clear();
    shownResults_.clear();
    ::SendMessageW(Item(kLastResults), LB_RESETCONTENT, 0, 0);
    const LotForm form{.firmware = Text(kFirmwareField),
                       .operatorName = Text(kOperatorField),
                       .stationName = Text(kStationField),
                       .lot = Text(kLotField),
                       .ports = Text(kPortsField),
                       .allUsb = ::SendMessageW(Item(kAllUsbBox), BM_GETCHECK, 0, 0) == BST_CHECKED};
    std::string message;
    run_ = LotRun::Start(form, commandLine_, message);
    SetText(kMessage, message);
    if (!run_) {
        return false;
    }
    finished_ = false;
    ::SetTimer(window_, kRefreshTimer, kRefreshMs, nullptr);
    Refresh();
    return true;
}

void StationFrame::ScanLabel() {
    if (run_) {
        run_->Logic().ScanLabel(Text(kScanField));
        SetText(kScanField, "");  // ready for the next box's label
    }
}

void StationFrame::StopLot() {
    if (run_) {
        run_->Logic().StopLot();
        SetText(kMessage, "Lot stopped: running boxes finish.");
        Refresh();
    }
}

void StationFrame::EndLot() {
    if (window_ != nullptr) {
        ::KillTimer(window_, kRefreshTimer);
    }
    run_.reset();  // the watchers end; every running download is cancelled and its result recorded
}

void StationFrame::Refresh() {
    if (!run_) {
        return;
    }
    StationLogic& logic = run_->Logic();
    if (const std::string notice = logic.TakeNotice(); !notice.empty()) {
        SayOnError("kestrel-station: " + notice + "\n");
        SetText(kMessage, notice);
    }
    const bool running = logic.LotRunning();
    // The focus leaves a button before it is disabled, so the keyboard is never left with nothing.
    const HWND focus = ::GetFocus();
    if ((focus == Item(kStartButton) && running) || (focus == Item(kStopButton) && !running)) {
        ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(running ? kStopButton : kStartButton)),
                       TRUE);
    }
    ::EnableWindow(Item(kStartButton), !running);
    ::EnableWindow(Item(kStopButton), running);
    bool added = false;
    for (const Tile& tile : logic.Tiles()) {
        auto& view = tiles_[tile.name];
        if (!view) {
            view = std::make_unique<TileView>(window_, kFirstTile + static_cast<int>(tileOrder_.size()), fonts_);
            tileOrder_.push_back(tile.name);
            added = true;
        }
        view->Show(tile);
    }
    if (added) {
        Layout();
    }
    const LotCounters counters = logic.Counters();
    SetText(kCounters, CountersText(counters));
    SetText(kDatabaseLink, logic.DatabaseLinkText());
    const std::vector<std::string> results(counters.lastResults.begin(), counters.lastResults.end());
    if (results != shownResults_) {
        HWND list = Item(kLastResults);
        ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
        for (std::size_t i = 0; i < results.size() && i < kLastResultsShown; ++i) {
            ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(results[i]).c_str()));
        }
        ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(list, nullptr, TRUE);
        shownResults_ = results;
    }
    if (blocking_ && logic.Running() == 0) {
        ::ShutdownBlockReasonDestroy(window_);
        blocking_ = false;
    }
    if (!finished_ && !asking_) {
        if (const int status = run_->FinishedStatus(); status >= 0) {
            finished_ = true;
            logic.StopLot();
            SetText(kMessage, status == 0 ? "Lot complete: all passed." : "Lot complete: some boxes failed.");
            ::EnableWindow(Item(kStartButton), TRUE);
            ::EnableWindow(Item(kStopButton), FALSE);
            if (commandLine_.count > 0) {
                Finish(status);
            }
        }
    }
}

void StationFrame::Finish(int status) {
    if (!commandLine_.screenshot.empty() && !SaveWindowPicture(window_, commandLine_.screenshot)) {
        SayOnError("kestrel-station: cannot save the picture " + commandLine_.screenshot + "\n");
    }
    exitStatus_ = status;
    ::DestroyWindow(window_);
}

bool StationFrame::OnClose() {
    if (run_ && run_->Logic().Running() > 0) {
        asking_ = true;
        const int answer =
            ::MessageBoxW(window_, kCloseQuestion, kStationCaption, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
        asking_ = false;
        if (answer != IDYES) {
            return false;
        }
    }
    Remember();
    EndLot();
    return true;
}

}  // namespace kestrel::stationapp::win32
