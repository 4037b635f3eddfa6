#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include "app/DialogLogic.h"
#include "app/win32/Ckestrel2Dlg.h"
#include "base/Utf16.h"
#include "links/SerialPortList.h"
#include "links/UsbDriver.h"
#include "session/Version.h"

namespace {

constexpr char kUsage[] =
    "Usage: kestrel-loader [--port NAME] [FILE]\n"
    "Writes firmware into the flash of the Kestrel programming box.\n\n"
    "  --port NAME  Select the link: USB, USB:N, USB:SERIAL, COMn or \\\\.\\COMn.\n"
    "  --help, /?   Show this text.\n"
    "  --version    Show the version.\n"
    "  FILE         Firmware file (.mot or .bin) to load.\n";

// A program of the window subsystem has no console of its own: the answer goes
// to the standard output it was given, or to the console it was started from.
void Answer(const std::string& text) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        ::AttachConsole(ATTACH_PARENT_PROCESS);
        out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    }
    DWORD written = 0;
    ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

// kestrel-loader [--port NAME] [FILE]: the dialog, with the link and the file
// chosen in advance if given. --help and --version answer without a window.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    kestrel::win32::Ckestrel2Dlg dialog(
        kestrel::LinkMenuEntries(kestrel::ListSerialPorts(), kestrel::ListUsbBoxes(kestrel::SystemUsbDriver())));
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::wstring refusal;
    for (int i = 1; arguments != nullptr && i < count && refusal.empty(); ++i) {
        const std::wstring argument = arguments[i];
        if (argument == L"--help" || argument == L"/?" || argument == L"--version") {
            Answer(argument != L"--version" ? kUsage : std::string("kestrel-loader ") + kestrel::kToolVersion + "\n");
            ::LocalFree(arguments);
            return 0;
        }
        if (argument == L"--port" && i + 1 < count) {
            const std::wstring port = arguments[++i];
            if (!dialog.PreselectPort(kestrel::Utf8FromWide(port))) {
                refusal = L"unknown port " + port + L" (USB, COM1 to COM8 or \\\\.\\COMn)";
            }
        } else if (!argument.empty() && argument[0] != L'-') {
            wchar_t full[32768];
            const DWORD length = ::GetFullPathNameW(argument.c_str(), 32768, full, nullptr);
            const DWORD attributes =
                length == 0 || length >= 32768 ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(full);
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                refusal = L"no such file: " + argument;
            } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                refusal = L"not a firmware file: " + argument + L" is a directory";
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
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    dialog.Run(instance);  // OK or Cancel: either way the tool ends
    return 0;
}
