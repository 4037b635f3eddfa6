// kestrel-station.exe: the station's window on Windows, over the same station
// logic and with the same options, tiles, closing rules and exit statuses as
// the Qt window on Linux.
#include <string>
#include <vector>

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include "base/Utf16.h"
#include "session/Version.h"
#include "station-app/StationCommandLine.h"
#include "station-app/win32/ProgramOutput.h"
#include "station-app/win32/StationFrame.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    using namespace kestrel::stationapp;
    // Help, the version and a wrong command line need no window.
    std::vector<std::string> arguments;
    int count = 0;
    if (LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) {
            arguments.push_back(kestrel::Utf8FromWide(wide[i]));
        }
        ::LocalFree(wide);
    }
    const StationCommandLine commandLine = ParseStationCommandLine(arguments);
    if (!commandLine.error.empty()) {
        win32::SayOnError("kestrel-station: " + commandLine.error + "\n");
        return 2;
    }
    if (commandLine.showHelp) {
        win32::SayOnOutput(commandLine.helpText);
        return 0;
    }
    if (commandLine.showVersion) {
        win32::SayOnOutput(std::string("kestrel-station ") + kestrel::kToolVersion + "\n");
        return 0;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    // The file dialog and the picture's encoder are COM objects.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    int status = 1;
    {
        win32::StationFrame frame(instance, commandLine);
        if (frame.Create(show)) {
            status = frame.Run();
        }
    }
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return status;
}
