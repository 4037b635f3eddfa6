#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "app/DialogLogic.h"
#include "app/DialogStatus.h"
#include "app/DownloadWorker.h"
#include "app/win32/Win32DialogView.h"
#include "station/SessionLog.h"

namespace kestrel::win32 {

// The tool's window, from its dialog resource: pick the firmware file and the
// link, start the download, read its status lines. The download runs on the
// worker's thread; while it runs, the inputs are disabled, Escape does
// nothing, and closing the window asks before it cancels the download.
class Ckestrel2Dlg {
public:
    explicit Ckestrel2Dlg(std::vector<LinkMenuEntry> entries);

    // Selects the entry named `name` (its text in any case, or its link name),
    // or adds a device name beginning with "\\.\" as a new entry. False for
    // any other name.
    bool PreselectPort(const std::string& name);
    // Fills the path field and enables "Start download", as a confirmed browse does.
    void PreselectFile(const std::wstring& path) { preselectedFile_ = path; }

    // Runs the dialog modally until it closes.
    INT_PTR Run(HINSTANCE instance);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void OnInitDialog();
    void AddWindowMenuEntry();
    void FitDropDownList();
    void FitPictures();
    // The drop-down anew from the ports and USB boxes there now, the selected link kept.
    void RefreshLinks();
    void OnBrowse();
    void OnStartDownload();
    void OnDrain();
    void OnClose(CloseRequest request, INT_PTR result);
    void OnSaveLog();
    DialogControl FocusedControl() const;
    void RestoreFocus();
    void ShowInputs();
    HWND Item(int id) const { return ::GetDlgItem(window_, id); }

    std::vector<LinkMenuEntry> entries_;
    std::size_t preferredEntry_ = 0;
    bool portPreselected_ = false;
    std::vector<LinkMenuEntry> namedEntries_;  // device names given with --port, kept when the list is made anew
    std::wstring preselectedFile_;
    HINSTANCE instance_ = nullptr;
    HWND window_ = nullptr;
    HICON bigIcon_ = nullptr, smallIcon_ = nullptr;
    DialogInputs inputs_;
    std::string runningLink_;
    DialogControl focusBefore_ = DialogControl::None;
    SessionRecord runningRecord_;  // filled by the download's thread
    std::optional<SessionRecord> lastRecord_;
    std::string recordFirmware_;  // the firmware of the last download, which no record may be appended to
    std::wstring savedTo_;        // where the last download's record went: it is not saved twice
    std::optional<INT_PTR> pendingResult_;
    bool blockingEnd_ = false;  // the end of the session is held back with a reason
    std::unique_ptr<Win32DialogView> view_;
    std::unique_ptr<DialogStatus> status_;
    std::unique_ptr<DownloadWorker> download_;  // last: its thread ends before the rest is gone
};

}  // namespace kestrel::win32
