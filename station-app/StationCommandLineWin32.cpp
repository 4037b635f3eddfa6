#include <windows.h>

#include "base/Utf16.h"
#include "station-app/StationCommandLine.h"

namespace kestrel::stationapp {

const char* StationPortHelp() {
    return "A port to watch, as kestrel-flash -p names it: USB, USB:N, USB:SERIAL (through FTDI's D2XX driver "
           "FTD2XX.dll), COMn for any n (COM3, COM12) or its device name \\\\.\\COMn; each box that appears on it "
           "is flashed. Repeatable.";
}

bool IsSystemHelpWord(const std::string& argument) { return argument == "/?" || argument == "-?"; }

std::string AbsoluteFile(const std::string& file) {
    wchar_t full[32768];
    const DWORD length = ::GetFullPathNameW(WideFromUtf8(file).c_str(), 32768, full, nullptr);
    return length == 0 || length >= 32768 ? file : Utf8FromWide(full);
}

}  // namespace kestrel::stationapp
