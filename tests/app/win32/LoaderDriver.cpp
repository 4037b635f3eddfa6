// Drives kestrel-loader.exe from outside, as a user at the keyboard would:
// finds its window by its caption, checks that the drop-down offers COM40 and has the
// link of this test selected, follows a port plugged in later, finds the focus
// on "Start download", leaves Enter in the path field without effect, and presses Space,
// reads the status list until the download has ended, then presses Enter for
// a second download, and opens "Save log...". Prints the window's place for a screenshot.
// "LoaderDriver close" closes the window instead; "LoaderDriver end-session"
// starts a download and ends the session as Windows does while it runs;
// "LoaderDriver height" prints the banner's height and closes the window.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <cwchar>

#include <windows.h>

#include "support/WindowDriver.h"

#include "app/win32/resource.h"

namespace {
using namespace kestrel::testing;

constexpr wchar_t kCaption[] = L"IXO V2718 Loader v1.1";

std::wstring DropDownEntry(HWND dropDown, LRESULT index) {
    wchar_t entry[256] = {};
    ::SendMessageW(dropDown, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(entry));
    return entry;
}

std::wstring Selected(HWND dropDown) { return DropDownEntry(dropDown, ::SendMessageW(dropDown, CB_GETCURSEL, 0, 0)); }

bool Listed(HWND dropDown, const wchar_t* entry) {
    return ::SendMessageW(dropDown, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(entry)) !=
           CB_ERR;
}

std::vector<std::wstring> Lines(HWND list) {
    std::vector<std::wstring> lines;
    const auto count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        auto& line = lines.emplace_back(static_cast<std::size_t>(::SendMessageW(list, LB_GETTEXTLEN, i, 0)), L'\0');
        ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));  // its terminator: the string's own
    }
    return lines;
}

// Waits until the box erases, the last line of the status list then.
bool AwaitErasing(HWND list) {
    return Await([list] { return !Lines(list).empty() && Lines(list).back() == L"Erasing flash... "; }, 30);
}

// Windows asks whether the session may end during a download: no, with a
// reason; ended all the same, the download is cancelled and its end shown
// before the window answers, as the process may be ended right after.
int EndSession(HWND dialog) {
    HWND list = ::GetDlgItem(dialog, IDC_STATUS);
    ::PostMessageW(::GetDlgItem(dialog, IDC_START), BM_CLICK, 0, 0);
    if (!AwaitErasing(list))
        return Fail("no \"Erasing flash... \" line");
    if (const char* wrong = EndSessionAllTheSame(dialog))
        return Fail(wrong);
    const auto lines = Lines(list);
    std::printf("after the session's end: %ls\n", lines.empty() ? L"" : lines.back().c_str());
    if (lines.empty() || lines.back() != L"Error: download cancelled")
        return Fail("the download was not cancelled before the window answered the session's end");
    return Close(dialog);  // as Windows would end the process now
}

// COM41 in the system's serial-port map, as a driver enters a port it made; null takes it out again.
bool SetPortMapEntry(const wchar_t* port) {
    constexpr wchar_t kMap[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM", kEntry[] = L"\\Device\\KestrelTest41";
    const auto bytes = static_cast<DWORD>(port != nullptr ? (std::wcslen(port) + 1) * sizeof(wchar_t) : 0);
    return (port != nullptr ? ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kMap, kEntry, REG_SZ, port, bytes)
                            : ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kMap, kEntry)) == ERROR_SUCCESS;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Sizes as the dialog has them, not scaled for a program that knows of no DPI.
    ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    HWND dialog = AwaitShown(L"#32770", kCaption);
    if (dialog == nullptr)
        return Fail("no window with the caption \"IXO V2718 Loader v1.1\"");
    if (argc > 1 && std::wstring(argv[1]) == L"close")
        return Close(dialog);
    if (argc > 1 && std::wstring(argv[1]) == L"end-session")
        return EndSession(dialog);
    if (argc > 1 && std::wstring(argv[1]) == L"height")
        return PrintHeightAndClose(dialog, IDC_BANNER);

    // The drop-down's open list is wide enough for its longest entry, which is
    // wider than the closed box. Measured in the template's font: the dialog's
    // own font handle means nothing in this process.
    HWND dropDown = ::GetDlgItem(dialog, IDC_LINK);
    HDC dc = ::GetDC(dropDown);
    HFONT font = ::CreateFontW(-::MulDiv(8, ::GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                               DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Shell Dlg");
    ::SelectObject(dc, font);
    const auto width = [dc](const std::wstring& text) {
        SIZE size{};
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        return static_cast<int>(size.cx);
    };
    int widest = 0;
    for (LRESULT i = 0; i < ::SendMessageW(dropDown, CB_GETCOUNT, 0, 0); ++i)
        widest = std::max(widest, width(DropDownEntry(dropDown, i)));
    // The step labels show their words whole.
    for (HWND label = ::GetWindow(dialog, GW_CHILD); label != nullptr; label = ::GetWindow(label, GW_HWNDNEXT)) {
        const std::wstring words = Text(label);
        RECT area{};
        ::GetClientRect(label, &area);
        if (words.size() >= 3 && words[1] == L'.' && words[0] >= L'1' && words[0] <= L'3' && width(words) > area.right)
            return Fail("a step's label is cut: its words are wider than the label");
    }
    ::ReleaseDC(dropDown, dc);
    ::DeleteObject(font);
    RECT closed{};
    ::GetWindowRect(dropDown, &closed);
    const auto dropped = ::SendMessageW(dropDown, CB_GETDROPPEDWIDTH, 0, 0);
    if (widest <= closed.right - closed.left || dropped < widest)
        return Fail("the open drop-down is narrower than its longest entry");

    // The port registered in the system's serial-port map is offered; the link
    // this test serves is the one selected before anything is pressed.
    if (!Listed(dropDown, L"COM40"))
        return Fail("COM40 of the serial-port map is not in the drop-down");
    if (Selected(dropDown) != L"\\\\.\\COM40")
        return Fail("the selected link is not this test's \\\\.\\COM40: nothing pressed");

    // A port plugged in while the dialog is open is offered once Windows tells of the device change.
    if (!SetPortMapEntry(L"COM41"))
        return Fail("cannot enter COM41 into the serial-port map");
    TellDeviceChange();
    const bool followed = Await([dropDown] { return Listed(dropDown, L"COM41"); }, 10);
    SetPortMapEntry(nullptr);
    TellDeviceChange();
    if (!followed)
        return Fail("COM41, plugged in after the dialog opened, is not in the drop-down");
    if (!Await([dropDown] { return !Listed(dropDown, L"COM41"); }, 10))
        return Fail("COM41, pulled, is still in the drop-down");
    if (Selected(dropDown) != L"\\\\.\\COM40")
        return Fail("the drop-down made anew lost the selected link");

    // With the port and the file given, the focus starts on "Start download".
    // Enter in the path field leaves the window open and starts nothing; a
    // typed path enables "Start download" as a picked one does, an empty one disables it.
    Foreground(dialog);
    HWND start = ::GetDlgItem(dialog, IDC_START), path = ::GetDlgItem(dialog, IDC_PATH);
    if (Focused(dialog) != start)
        return Fail("with port and file given, the focus is not on \"Start download\"");
    Press(VK_TAB, VK_SHIFT);
    if (Focused(dialog) != path)
        return Fail("Shift+Tab from \"Start download\" did not reach the path field");
    Press(VK_RETURN);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (!::IsWindow(dialog) || !Lines(::GetDlgItem(dialog, IDC_STATUS)).empty())
        return Fail("Enter in the path field closed the window or started a download");
    const std::wstring file = Text(path);
    ::SendMessageW(path, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    const bool disabled = !::IsWindowEnabled(start);
    ::SendMessageW(path, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file.c_str()));
    if (!disabled || !::IsWindowEnabled(start))
        return Fail("\"Start download\" does not follow the path typed");
    Press(VK_TAB);
    if (Focused(dialog) != start)
        return Fail("Tab from the path field did not reach \"Start download\"");
    Press(VK_SPACE);

    // While the box erases, Escape does nothing, and closing the window asks
    // first: answered no, the download goes on.
    HWND list = ::GetDlgItem(dialog, IDC_STATUS);
    if (!AwaitErasing(list))
        return Fail("no \"Erasing flash... \" line");
    Press(VK_ESCAPE);
    // Enter answers the question's default, which must be No: the download goes on.
    if (const char* wrong = CloseAnsweringNoWithEnter(dialog, kCaption))
        return Fail(wrong);
    const auto ended = [list, start] {
        const auto lines = Lines(list);
        return !lines.empty() && (lines.back() == L"FLASHING SUCCESSFULL" || lines.back().starts_with(L"Error: ")) &&
               ::IsWindowEnabled(start);
    };
    const bool done = Await(ended, 120);
    for (const auto& line : Lines(list))
        std::printf("line: %ls\n", line.c_str());
    RECT place{};
    ::GetWindowRect(dialog, &place);
    std::printf("place: %ldx%ld+%ld+%ld\n", place.right - place.left, place.bottom - place.top, place.left, place.top);
    if (!done)
        return Fail("the download did not end within 120 s");
    const std::wstring bar = Text(::GetDlgItem(dialog, IDC_PROGRESS));
    std::printf("bar: %ls\n", bar.c_str());
    if (bar != L"Flashed and verified")
        return Fail("the bar does not give the verdict of a verified download");

    // The focus is back on "Start download": Enter starts the next download,
    // and the window stays with its lines.
    if (Focused(dialog) != start)
        return Fail("after the download the focus is not on \"Start download\"");
    Press(VK_RETURN);
    if (!Await([list, start] { return Lines(list).size() < 3 || !::IsWindowEnabled(start); }, 10) ||
        !Await(ended, 120) || !::IsWindow(dialog))
        return Fail("Enter after the download did not run a second download in the open window");
    std::printf("second: %ls\n", Lines(list).back().c_str());

    // "Save log..." of the window menu offers a log's name. The firmware is refused
    // and left as it is; a log gets the record once: asked again, the window says where it is.
    const auto saveLogAs = [dialog](const wchar_t* name) {
        ::PostMessageW(dialog, WM_SYSCOMMAND, IDM_SAVELOG, 0);
        HWND saveAs = Await([] { return ::FindWindowW(L"#32770", L"Save log"); }, 20);
        HWND field = saveAs != nullptr ? ::GetDlgItem(saveAs, 0x47c) : nullptr;  // the name's combo box
        if (field == nullptr && saveAs != nullptr)
            field = ::GetDlgItem(saveAs, 0x480);  // an older dialog's edit field
        if (field == nullptr)
            return std::wstring();
        const std::wstring offered = Text(field);
        ::SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name));
        ::PostMessageW(saveAs, WM_COMMAND, IDOK, 0);
        return Await([saveAs] { return !::IsWindow(saveAs); }, 10) ? offered : std::wstring();
    };
    // The message box captioned "Save log" that says `words`, answered OK: whether it came and went.
    const auto answer = [](const wchar_t* words) {
        HWND box = Await(
            [words] {
                HWND found = ::FindWindowW(L"#32770", L"Save log");  // none: no text, and no match
                return Text(::GetDlgItem(found, 0xFFFF)).find(words) != std::wstring::npos ? found : nullptr;
            },
            10);
        return box != nullptr && ::PostMessageW(box, WM_COMMAND, IDOK, 0) &&
               Await([box] { return !::IsWindow(box); }, 10);
    };
    const std::wstring offered = saveLogAs(L"C:\\firmware\\kestrel-demo.mot");
    std::printf("offered: %ls\n", offered.c_str());
    if (!offered.ends_with(L".log"))
        return Fail("the window menu's \"Save log...\" asked for no file or offered no log file's name");
    if (!answer(L"is the firmware file"))
        return Fail("the firmware file was not refused as a log");
    if (saveLogAs(L"C:\\firmware\\dialog.log").empty())
        return Fail("the second \"Save log...\" did not take the log");
    ::SetForegroundWindow(dialog);
    ::PostMessageW(dialog, WM_SYSCOMMAND, IDM_SAVELOG, 0);
    if (!answer(L"already"))
        return Fail("asked again, \"Save log...\" did not say where the record is");
    return 0;
}
