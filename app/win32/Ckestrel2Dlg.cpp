#include "app/win32/Ckestrel2Dlg.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <system_error>
#include <tuple>
#include <utility>

#include <commctrl.h>
#include <commdlg.h>

#include "app/TextFit.h"
#include "app/win32/WindowPlacement.h"
#include "app/win32/resource.h"
#include "base/SystemErrorText.h"
#include "base/Utf16.h"
#include "links/SerialPortList.h"
#include "links/UsbDriver.h"
#include "session/Version.h"
#include "station/RecordedDownload.h"

namespace kestrel::win32 {

namespace {

constexpr UINT kDrainMessage = WM_APP + 1;
constexpr UINT kFitPicturesMessage = WM_APP + 2;
// The banner's place in the template, in dialog units.
constexpr RECT kBannerPlace{159, 7, 159 + 100, 7 + 20};
constexpr UINT_PTR kCountdownTimer = 1;
constexpr UINT kCountdownTickMs = 200;
constexpr DWORD kLongestPath = 32768;
constexpr wchar_t kCaption[] = L"IXO V2718 Loader v1.1";
constexpr char kEndSessionReason[] = "A download is running: ending now leaves the box unprogrammed.";
// Windows gives a window 5 s to answer WM_ENDSESSION.
constexpr std::chrono::milliseconds kEndSessionWait{4500};

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The log the last record was saved to, offered the next time.
constexpr wchar_t kSettingsKey[] = L"Software\\Kestrel\\kestrel-loader";

std::wstring RememberedLogFile() {
    std::wstring value(kLongestPath, L'\0');
    DWORD size = static_cast<DWORD>((value.size() - 1) * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, L"log", RRF_RT_REG_SZ, nullptr, value.data(), &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    value.resize(value.find(L'\0'));
    return value;
}

void RememberLogFile(const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        ::RegSetValueExW(key, L"log", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                         static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }
}

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            CentreOnScreen(window);
            ::SetDlgItemTextW(window, IDC_ABOUT_VERSION,
                              WideFromUtf8(std::string("Kestrel Loader ") + kToolVersion).c_str());
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(window, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace

Ckestrel2Dlg::Ckestrel2Dlg(std::vector<LinkMenuEntry> entries) : entries_(std::move(entries)) {}

bool Ckestrel2Dlg::PreselectPort(const std::string& name) {
    if (const auto found = FindLinkMenuEntry(entries_, name)) {
        preferredEntry_ = *found;
        portPreselected_ = true;
        return true;
    }
    if (!SelectsALink(name)) {
        return false;
    }
    entries_.push_back({name, name, name});
    namedEntries_.push_back(entries_.back());
    preferredEntry_ = entries_.size() - 1;
    portPreselected_ = true;
    return true;
}

INT_PTR Ckestrel2Dlg::Run(HINSTANCE instance) {
    instance_ = instance;
    return ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_KESTREL2_DIALOG), nullptr, &Ckestrel2Dlg::DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Ckestrel2Dlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto* dialog = reinterpret_cast<Ckestrel2Dlg*>(lParam);
        dialog->window_ = window;
    }
    auto* dialog = reinterpret_cast<Ckestrel2Dlg*>(::GetWindowLongPtrW(window, DWLP_USER));
    return dialog != nullptr ? dialog->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR Ckestrel2Dlg::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog();
            if (portPreselected_ && !preselectedFile_.empty()) {
                // Port and file given: what is left to do is to start.
                ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_START)), TRUE);
                return FALSE;
            }
            return TRUE;  // the focus goes to the first tab stop that can take it: "..."
        case WM_SHOWWINDOW:
            ::SendMessageW(Item(IDC_LINK), CB_SETCURSEL, preferredEntry_, 0);
            return FALSE;
        case WM_SYSCOMMAND:
            if (IsAboutCommand(static_cast<unsigned>(wParam))) {
                ::DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_ABOUTBOX), window_, AboutProc, 0);
                return TRUE;
            }
            if ((wParam & 0xFFF0) == IDM_SAVELOG) {
                OnSaveLog();
                return TRUE;
            }
            return FALSE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_BROWSE:
                    OnBrowse();
                    return TRUE;
                case IDC_START:
                    OnStartDownload();
                    return TRUE;
                case IDC_PATH:
                    if (HIWORD(wParam) == EN_CHANGE && inputs_.InputsEnabled()) {
                        inputs_.PathEdited(::GetWindowTextLengthW(Item(IDC_PATH)) == 0);
                        ShowInputs();
                    }
                    return TRUE;
                case IDC_LINK:
                    if (HIWORD(wParam) == CBN_DROPDOWN) {
                        RefreshLinks();  // a port plugged in since is there when the list opens
                    }
                    return FALSE;
                case IDOK:
                    // Enter in the path field or the drop-down reaches the template's hidden default button:
                    // the window stays.
                    return TRUE;
                case IDCANCEL:  // also Escape
                    OnClose(CloseRequest::Escape, LOWORD(wParam));
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            OnClose(CloseRequest::CloseBox, IDCANCEL);
            return TRUE;
        case WM_DEVICECHANGE:
            RefreshLinks();
            return TRUE;
        case WM_QUERYENDSESSION:
            // Signing out or shutting down during a download: Windows asks the user, naming the reason.
            if (download_->Running()) {
                blockingEnd_ = ::ShutdownBlockReasonCreate(window_, WideFromUtf8(kEndSessionReason).c_str()) != FALSE;
                ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, FALSE);
                return TRUE;
            }
            return FALSE;
        case WM_ENDSESSION:
            if (wParam != 0 && download_->Running()) {
                // Ended all the same: Windows may end the process once this returns, so the download is
                // cancelled and its end shown before, the port closed and the box left for the next download.
                download_->Cancel();
                download_->AwaitEnd(kEndSessionWait);
                OnDrain();
            }
            return TRUE;
        case kDrainMessage:
            OnDrain();
            return TRUE;
        case WM_DPICHANGED:
            // The dialog manager scales the controls to the new screen first; the pictures follow then.
            ::PostMessageW(window_, kFitPicturesMessage, 0, 0);
            return FALSE;
        case kFitPicturesMessage:
            FitPictures();
            return TRUE;
        case WM_TIMER:
            if (wParam == kCountdownTimer) {
                status_->Tick();
                if (!status_->CountingDown()) {
                    ::KillTimer(window_, kCountdownTimer);
                }
            }
            return TRUE;
        case WM_DESTROY:
            download_.reset();  // cancels and joins a download still running
            for (HICON icon : {bigIcon_, smallIcon_}) {
                if (icon != nullptr) {
                    ::DestroyIcon(icon);
                }
            }
            ::DeleteObject(reinterpret_cast<HGDIOBJ>(::SendMessageW(Item(IDC_BANNER), STM_GETIMAGE, IMAGE_BITMAP, 0)));
            status_.reset();
            view_.reset();
            return FALSE;
        default:
            (void)lParam;
            return FALSE;
    }
}

void Ckestrel2Dlg::OnInitDialog() {
    HWND dropDown = Item(IDC_LINK);
    for (const auto& entry : entries_) {
        ::SendMessageW(dropDown, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(entry.text).c_str()));
    }
    FitDropDownList();
    AddWindowMenuEntry();
    FitPictures();

    view_ = std::make_unique<Win32DialogView>(Item(IDC_STATUS), Item(IDC_PROGRESS));
    status_ = std::make_unique<DialogStatus>(*view_);
    HWND window = window_;
    download_ = std::make_unique<DownloadWorker>([window] { ::PostMessageW(window, kDrainMessage, 0, 0); });
    if (!preselectedFile_.empty()) {
        ::SetWindowTextW(Item(IDC_PATH), preselectedFile_.c_str());
        inputs_.FileChosen();
    }
    ShowInputs();
    CentreOnScreen(window_);
}

// The icons and the banner in the pixels of the screen the window is on: the
// dialog manager scales the controls with the DPI, not the pictures in them.
void Ckestrel2Dlg::FitPictures() {
    const UINT dpi = ::GetDpiForWindow(window_);
    for (const auto& [which, size, held] :
         {std::tuple{ICON_BIG, SM_CXICON, &bigIcon_}, {ICON_SMALL, SM_CXSMICON, &smallIcon_}}) {
        const int pixels = ::GetSystemMetricsForDpi(size, dpi);
        HICON icon =
            static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, pixels, pixels, 0));
        ::SendMessageW(window_, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
        if (*held != nullptr) {
            ::DestroyIcon(*held);
        }
        *held = icon;
    }
    RECT place = kBannerPlace;
    ::MapDialogRect(window_, &place);
    HBITMAP source =
        static_cast<HBITMAP>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDB_PICTURE), IMAGE_BITMAP, 0, 0, 0));
    BITMAP size{};
    ::GetObjectW(source, sizeof size, &size);
    const int width = place.right - place.left, height = place.bottom - place.top;
    HBITMAP banner = source;
    // Within a pixel of the picture's own size it is shown as it is: a stretch by one pixel only blurs it.
    if (width > 0 && height > 0 && (std::abs(width - size.bmWidth) > 1 || std::abs(height - size.bmHeight) > 1)) {
        HDC screen = ::GetDC(window_);
        HDC from = ::CreateCompatibleDC(screen), to = ::CreateCompatibleDC(screen);
        banner = ::CreateCompatibleBitmap(screen, width, height);
        const HGDIOBJ oldFrom = ::SelectObject(from, source), oldTo = ::SelectObject(to, banner);
        ::SetStretchBltMode(to, HALFTONE);
        ::SetBrushOrgEx(to, 0, 0, nullptr);
        ::StretchBlt(to, 0, 0, width, height, from, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
        ::SelectObject(from, oldFrom);
        ::SelectObject(to, oldTo);
        ::DeleteDC(from);
        ::DeleteDC(to);
        ::ReleaseDC(window_, screen);
        ::DeleteObject(source);
    }
    const auto previous = reinterpret_cast<HBITMAP>(
        ::SendMessageW(Item(IDC_BANNER), STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner)));
    if (previous != nullptr && previous != banner) {
        ::DeleteObject(previous);
    }
}

void Ckestrel2Dlg::AddWindowMenuEntry() {
    HMENU menu = ::GetSystemMenu(window_, FALSE);
    if (menu == nullptr) {
        return;
    }
    // LoadString with no buffer gives a pointer to the resource's own text.
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(instance_, IDS_ABOUTBOX, reinterpret_cast<LPWSTR>(&text), 0);
    if (length > 0) {
        const std::wstring entry(text, static_cast<std::size_t>(length));
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, entry.c_str());
    }
    // Offered once a download has ended with a whole record to save.
    ::AppendMenuW(menu, MF_STRING | MF_GRAYED, IDM_SAVELOG, L"Save log...");
}

// The closed drop-down is narrow; its open list shows the longest entry whole.
void Ckestrel2Dlg::FitDropDownList() {
    HWND dropDown = Item(IDC_LINK);
    HDC dc = ::GetDC(dropDown);
    const HGDIOBJ oldFont = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(dropDown, WM_GETFONT, 0, 0)));
    int widest = 0;
    for (const auto& entry : entries_) {
        const std::wstring text = WideFromUtf8(entry.text);
        SIZE size{};
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        widest = std::max(widest, static_cast<int>(size.cx));
    }
    ::SelectObject(dc, oldFont);
    ::ReleaseDC(dropDown, dc);
    const int margins = 2 * ::GetSystemMetrics(SM_CXEDGE) + 2 * ::GetSystemMetrics(SM_CXBORDER) + 8;
    ::SendMessageW(dropDown, CB_SETDROPPEDWIDTH,
                   static_cast<WPARAM>(widest + margins + ::GetSystemMetrics(SM_CXVSCROLL)), 0);
}

void Ckestrel2Dlg::RefreshLinks() {
    HWND dropDown = Item(IDC_LINK);
    const auto selected = ::SendMessageW(dropDown, CB_GETCURSEL, 0, 0);
    const std::string selectedLink =
        selected >= 0 && static_cast<std::size_t>(selected) < entries_.size() ? entries_[selected].linkName : "";
    std::vector<LinkMenuEntry> entries = LinkMenuEntries(ListSerialPorts(), ListUsbBoxes(SystemUsbDriver()));
    for (const auto& named : namedEntries_) {
        if (!FindLinkMenuEntry(entries, named.linkName)) {
            entries.push_back(named);
        }
    }
    bool same = entries.size() == entries_.size();
    for (std::size_t i = 0; same && i < entries.size(); ++i) {
        same = entries[i].text == entries_[i].text && entries[i].linkName == entries_[i].linkName;
    }
    if (same) {
        return;
    }
    entries_ = std::move(entries);
    ::SendMessageW(dropDown, CB_RESETCONTENT, 0, 0);
    for (const auto& entry : entries_) {
        ::SendMessageW(dropDown, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(entry.text).c_str()));
    }
    std::size_t keep = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].linkName == selectedLink) {
            keep = i;
        }
    }
    ::SendMessageW(dropDown, CB_SETCURSEL, keep, 0);
    FitDropDownList();
}

void Ckestrel2Dlg::OnBrowse() {
    std::wstring file(kLongestPath, L'\0');
    const std::wstring folder = WideFromUtf8(PickerStartFolder(Utf8FromWide(WindowText(Item(IDC_PATH)))));
    OPENFILENAMEW dialog{};
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = L"Firmware Files (*.bin,*.mot)\0*.bin;*.mot\0";
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = kLongestPath;
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!::GetOpenFileNameW(&dialog)) {
        return;  // cancelled: nothing changes
    }
    file.resize(file.find(L'\0'));
    ::SetWindowTextW(Item(IDC_PATH), file.c_str());
    inputs_.FileChosen();
    ShowInputs();
}

void Ckestrel2Dlg::OnStartDownload() {
    if (download_->Running()) {
        return;
    }
    const auto selected = ::SendMessageW(Item(IDC_LINK), CB_GETCURSEL, 0, 0);
    if (selected < 0 || static_cast<std::size_t>(selected) >= entries_.size()) {
        return;
    }
    runningLink_ = entries_[static_cast<std::size_t>(selected)].linkName;
    focusBefore_ = FocusedControl();
    // The whole path: cutting it short could name another file than the one chosen.
    const std::string filePath = Utf8FromWide(WindowText(Item(IDC_PATH)));
    recordFirmware_ = filePath;

    inputs_.DownloadStarted();
    ShowInputs();
    status_->Clear();
    status_->DownloadStarting(entries_[static_cast<std::size_t>(selected)].text);
    ::EnableMenuItem(::GetSystemMenu(window_, FALSE), IDM_SAVELOG, MF_BYCOMMAND | MF_GRAYED);
    ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    auto recorded = [this](const std::string& link, const std::string& file, StatusList& status,
                           const SessionOptions& options) {
        return RunRecordedDownload(RunDownload, link, file, status, options, runningRecord_);
    };
    download_->Start(recorded, runningLink_, filePath);
}

void Ckestrel2Dlg::OnDrain() {
    const auto ended = download_->Drain(*status_);
    if (status_->CountingDown()) {
        ::SetTimer(window_, kCountdownTimer, kCountdownTickMs, nullptr);
    }
    if (!ended) {
        return;
    }
    const std::string reason = status_->DownloadEnded(ended->outcome, ended->openFailure);
    // A download ended by an exception has no whole record to offer.
    lastRecord_ = ended->outcome ? std::optional(runningRecord_) : std::nullopt;
    savedTo_.clear();
    if (lastRecord_) {
        lastRecord_->reason = reason;  // the bar may show it cut short
    }
    ::EnableMenuItem(::GetSystemMenu(window_, FALSE), IDM_SAVELOG,
                     MF_BYCOMMAND | (lastRecord_ ? MF_ENABLED : MF_GRAYED));
    if (blockingEnd_) {
        ::ShutdownBlockReasonDestroy(window_);
        blockingEnd_ = false;
    }
    inputs_.DownloadEnded();
    ShowInputs();
    RestoreFocus();
    if (pendingResult_) {
        ::EndDialog(window_, *pendingResult_);
    }
}

void Ckestrel2Dlg::OnClose(CloseRequest request, INT_PTR result) {
    switch (AnswerClose(request, download_->Running())) {
        case CloseAnswer::Close:
            ::EndDialog(window_, result);
            break;
        case CloseAnswer::AskThenCancel:
            if (!pendingResult_ && MessageBoxOnWindow(window_, WideFromUtf8(kCancelQuestion), kCaption,
                                                      MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES) {
                // The download may have ended while the question was open.
                if (!download_->Running()) {
                    ::EndDialog(window_, result);
                    break;
                }
                pendingResult_ = result;
                download_->Cancel();
            }
            break;
        case CloseAnswer::Ignore:
            break;
    }
}

void Ckestrel2Dlg::OnSaveLog() {
    if (!lastRecord_ || download_->Running()) {
        return;
    }
    if (!savedTo_.empty()) {
        MessageBoxOnWindow(window_, L"The record of this download is in " + savedTo_ + L" already.", L"Save log",
                           MB_OK | MB_ICONINFORMATION);
        return;
    }
    const std::wstring remembered = RememberedLogFile();
    const std::wstring path = ChooseLogFile(window_, remembered.empty() ? WideFromUtf8(kDefaultLogName) : remembered);
    if (path.empty()) {
        return;
    }
    if (const std::string problem = LogFileProblem(Utf8FromWide(path), recordFirmware_); !problem.empty()) {
        MessageBoxOnWindow(window_, WideFromUtf8(problem), L"Save log", MB_OK | MB_ICONERROR);
        return;
    }
    if (const int error = AppendSessionRecord(Utf8FromWide(path), *lastRecord_); error != 0) {
        MessageBoxOnWindow(window_, L"Cannot write " + path + L": " + WideFromUtf8(SystemErrorText(error)), L"Save log",
                           MB_OK | MB_ICONERROR);
        return;
    }
    savedTo_ = path;
    RememberLogFile(path);
    ::EnableMenuItem(::GetSystemMenu(window_, FALSE), IDM_SAVELOG, MF_BYCOMMAND | MF_GRAYED);
}

DialogControl Ckestrel2Dlg::FocusedControl() const {
    const HWND focus = ::GetFocus();
    for (const auto& [id, control] : {std::pair{IDC_BROWSE, DialogControl::Browse},
                                      {IDC_PATH, DialogControl::Path},
                                      {IDC_START, DialogControl::Start},
                                      {IDC_LINK, DialogControl::Link}}) {
        if (focus != nullptr && focus == Item(id)) {
            return control;
        }
    }
    return DialogControl::None;
}

// Through the dialog manager, which also makes a focused push button the one Enter presses.
void Ckestrel2Dlg::RestoreFocus() {
    int id = IDC_START;
    switch (FocusAfterDownload(focusBefore_)) {
        case DialogControl::Browse:
            id = IDC_BROWSE;
            break;
        case DialogControl::Path:
            id = IDC_PATH;
            break;
        case DialogControl::Link:
            id = IDC_LINK;
            break;
        case DialogControl::Start:
        case DialogControl::None:
            break;
    }
    if (::IsWindowEnabled(Item(id))) {
        ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
    }
}

void Ckestrel2Dlg::ShowInputs() {
    HWND focus = ::GetFocus();
    for (const int id : {IDC_BROWSE, IDC_PATH, IDC_LINK}) {
        ::EnableWindow(Item(id), inputs_.InputsEnabled());
    }
    ::EnableWindow(Item(IDC_START), inputs_.StartEnabled());
    // A disabled control cannot keep the focus. While the download runs the
    // list takes it (its lines can be scrolled, Escape reaches the dialog);
    // after it the keyboard goes on from "...".
    if (focus == nullptr || !::IsWindowEnabled(focus)) {
        ::SetFocus(Item(inputs_.InputsEnabled() ? IDC_BROWSE : IDC_STATUS));
    }
}

}  // namespace kestrel::win32
