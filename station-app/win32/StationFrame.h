#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "station-app/LotRun.h"
#include "station-app/StationCommandLine.h"
#include "station-app/win32/TileView.h"

namespace kestrel::stationapp::win32 {

// The station's window on Windows, the same as the Qt one: the firmware and who
// flashes it at the top, a tile per box, the lot's counters and last results.
// What it decides lives in StationLogic (through LotRun); this paints snapshots
// of it and turns clicks and keys into its calls. Per-monitor DPI aware: its
// fonts and layout follow the DPI of the screen it is on.
class StationFrame {
public:
    StationFrame(HINSTANCE instance, StationCommandLine commandLine);
    ~StationFrame();
    StationFrame(const StationFrame&) = delete;
    StationFrame& operator=(const StationFrame&) = delete;

    // Makes and shows the window; with a firmware on the command line, the lot starts once it is shown.
    bool Create(int show);
    // The message loop until the window is gone: the program's exit status (0
    // when closed; with --count the lot's; 2 when such a lot cannot start; 9
    // when Windows ended the session during downloads).
    int Run();

private:
    static LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void MakeControls();
    void MakeFonts();
    void FitIcons();
    void Layout();
    void OnCommand(int id, int code);
    void ChooseFirmware();
    void ShowFirmware();
    bool StartLot();
    void StopLot();
    // The label in the scan field goes to the next box that appears.
    void ScanLabel();
    void EndLot();
    void Refresh();
    void Finish(int status);
    bool OnClose();
    void Remember() const;
    std::string Text(int id) const;
    void SetText(int id, const std::string& text);
    HWND Item(int id) const { return ::GetDlgItem(window_, id); }
    int Scale(int pixels) const { return ::MulDiv(pixels, static_cast<int>(dpi_), 96); }

    HINSTANCE instance_;
    StationCommandLine commandLine_;
    HWND window_ = nullptr;
    HWND lastFocus_ = nullptr;
    UINT dpi_ = 96;
    TileFonts fonts_;
    HFONT countersFont_ = nullptr;
    HICON bigIcon_ = nullptr, smallIcon_ = nullptr;
    std::map<std::string, std::unique_ptr<TileView>> tiles_;
    std::vector<std::string> tileOrder_;
    std::vector<std::string> shownResults_;
    std::unique_ptr<LotRun> run_;
    bool finished_ = false;
    bool asking_ = false;    // the close question is open
    bool blocking_ = false;  // the end of the session is blocked with a reason
    int exitStatus_ = 0;
};

}  // namespace kestrel::stationapp::win32
