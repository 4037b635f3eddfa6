// Drives kestrel-station.exe from outside, as a technician at the keyboard (or
// Windows) would; finds its window by its caption. One command a run:
//   keyboard FIRMWARE  Alt+F reaches the firmware field, which gets FIRMWARE;
//                      Tab leaves it and the file's facts are shown; Enter and
//                      Escape leave the window open; Alt+T starts the lot; once
//                      a box's tile runs, closing asks with No as its default,
//                      Enter answers it and the download goes on; closing
//                      again, answered Yes, ends the window.
//   end-session        once a box's tile runs, Windows' question whether the
//                      session may end is answered no; then the session ends.
//   scan LABEL         once the lot runs, Alt+A reaches the scan field, LABEL is
//                      typed as a scanner types it and ends with Enter; the
//                      window stays and the field is emptied for the next label.
//   labelled LABEL     once a tile shows PASS, checks that it names LABEL, then closes the window.
//   device-change      tells every top-level window that a device came or went.
//   height             prints the height of "Start lot" in pixels, then closes the window.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <windows.h>

#include "support/WindowDriver.h"

#include "station-app/win32/StationControls.h"

namespace {

using namespace kestrel::stationapp::win32;
using namespace kestrel::testing;

// Types `text` as a barcode scanner does, a character at a time.
void Type(const std::wstring& text) {
    std::vector<std::pair<WORD, DWORD>> keys;
    for (const wchar_t character : text)
        keys.insert(keys.end(), {{character, KEYEVENTF_UNICODE}, {character, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP}});
    Send(keys);
}

// The first tile whose text ends in `result` (" ..." while its box is being flashed).
HWND TileShowing(HWND station, const std::wstring& result) {
    for (int id = kFirstTile; id < kFirstTile + 16; ++id) {
        HWND tile = ::GetDlgItem(station, id);
        const std::wstring text = tile != nullptr ? Text(tile) : L"";
        if (text.size() > result.size() && text.ends_with(result))
            return tile;
    }
    return nullptr;
}

HWND RunningTile(HWND station) { return TileShowing(station, L" ..."); }

bool LotRunning(HWND station) { return Text(::GetDlgItem(station, kMessage)).starts_with(L"Lot running"); }

int Keyboard(HWND station, const std::wstring& firmware) {
    Foreground(station);
    HWND field = ::GetDlgItem(station, kFirmwareField);
    Press(VK_TAB);
    if (Focused(station) == field)
        return Fail("Tab did not leave the firmware field");
    Press('F', VK_MENU);
    if (Focused(station) != field)
        return Fail("Alt+F did not reach the firmware field");
    ::SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(firmware.c_str()));
    Press(VK_RETURN);
    Press(VK_ESCAPE);
    if (!::IsWindow(station))
        return Fail("Enter or Escape closed the window");
    Press(VK_TAB);
    const std::wstring facts = Text(::GetDlgItem(station, kFirmwareFacts));
    if (facts.find(L" bytes, ") == std::wstring::npos || facts.find(L"SHA-256 ") == std::wstring::npos)
        return Fail("leaving the firmware field showed no facts of the file");
    Press('T', VK_MENU);
    if (!Await([station] { return LotRunning(station); }, 10))
        return Fail("Alt+T did not start the lot");
    if (!Await([station] { return RunningTile(station); }, 60))
        return Fail("no tile shows a box being flashed");

    if (const char* wrong = CloseAnsweringNoWithEnter(station, kStationCaption))
        return Fail(wrong);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (!::IsWindow(station) || RunningTile(station) == nullptr)
        return Fail("answered No, the window or its download did not go on");

    ::PostMessageW(station, WM_CLOSE, 0, 0);
    HWND question = AwaitQuestion(station, kStationCaption);
    if (question == nullptr)
        return Fail("closing again asked nothing");
    ::PostMessageW(::GetDlgItem(question, IDYES), BM_CLICK, 0, 0);
    return Await([station] { return !::IsWindow(station); }, 30) ? 0 : Fail("answered Yes, the window stayed");
}

int Scan(HWND station, const std::wstring& label) {
    if (!Await([station] { return LotRunning(station); }, 30))
        return Fail("the lot did not start");
    Foreground(station);
    HWND field = ::GetDlgItem(station, kScanField);
    Press('A', VK_MENU);
    if (Focused(station) != field)
        return Fail("Alt+A did not reach the scan field");
    Type(label);
    Press(VK_RETURN);
    if (!::IsWindow(station))
        return Fail("Enter in the scan field closed the window");
    return Text(field).empty() ? 0 : Fail("Enter left the label in the scan field");
}

int Labelled(HWND station, const std::wstring& label) {
    HWND passed = Await([station] { return TileShowing(station, L" PASS"); }, 60);
    if (passed == nullptr)
        return Fail("no tile shows PASS");
    if (Text(passed).find(label) == std::wstring::npos)
        return Fail("the tile of the box flashed does not show its label");
    return Close(station);
}

int EndSession(HWND station) {
    if (!Await([station] { return RunningTile(station); }, 60))
        return Fail("no tile shows a box being flashed");
    const char* wrong = EndSessionAllTheSame(station);
    return wrong == nullptr ? 0 : Fail(wrong);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Sizes and DPIs as the station sees them, not scaled for a program that knows of no DPI.
    ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"device-change") {
        TellDeviceChange();
        return 0;
    }
    HWND station = AwaitShown(L"KestrelStation", kStationCaption);
    if (station == nullptr)
        return Fail("no window with the caption \"Kestrel Station\"");
    if (command == L"keyboard" && argc > 2)
        return Keyboard(station, argv[2]);
    if (command == L"end-session")
        return EndSession(station);
    if (command == L"height")
        return PrintHeightAndClose(station, kStartButton);
    if (command == L"scan" && argc > 2)
        return Scan(station, argv[2]);
    if (command == L"labelled" && argc > 2)
        return Labelled(station, argv[2]);
    return Fail(
        "usage: StationDriver keyboard FIRMWARE | scan LABEL | labelled LABEL | end-session | device-change | "
        "height");
}
