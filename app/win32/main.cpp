#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include "app/DialogLogic.h"
#include "app/win32/Ckestrel2Dlg.h"
#include "links/SerialPortList.h"
#include "links/UsbDriver.h"
#include "links/Utf16.h"

// kestrel-loader [--port NAME] [FILE]: the dialog, with the link and the file
// chosen in advance if given.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);

    kestrel::win32::Ckestrel2Dlg dialog(
        kestrel::LinkMenuEntries(kestrel::ListSerialPorts(), kestrel::ListUsbBoxes(kestrel::SystemUsbDriver())));
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::wstring refusal;
    for (int i = 1; arguments != nullptr && i < count && refusal.empty(); ++i) {
        const std::wstring argument = arguments[i];
        if (argument == L"--port" && i + 1 < count) {
            const std::wstring port = arguments[++i];
            if (!dialog.PreselectPort(kestrel::Utf8FromWide(port))) {
                refusal = L"unknown port " + port + L" (USB, COM1 to COM8 or \\\\.\\COMn)";
            }
        } else if (!argument.empty() && argument[0] != L'-') {
            wchar_t full[32768];
            const DWORD length = ::GetFullPathNameW(argument.c_str(), 32768, full, nullptr);
            if (length == 0 || length >= 32768 || ::GetFileAttributesW(full) == INVALID_FILE_ATTRIBUTES) {
                refusal = L"no such file: " + argument;
            } else {
                dialog.PreselectFile(full);
            }
        } else {
            refusal = L"usage: kestrel-loader [--port NAME] [FILE]";
        }
    }
    ::LocalFree(arguments);
    if (!refusal.empty()) {
        ::MessageBoxW(nullptr, refusal.c_str(), L"kestrel-loader", MB_OK | MB_ICONERROR);
        return 2;
    }
    dialog.Run(instance);  // OK or Cancel: either way the tool ends
    return 0;
}
