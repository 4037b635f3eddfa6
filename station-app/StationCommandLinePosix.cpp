#include <filesystem>
#include <system_error>

#include "station-app/StationCommandLine.h"

namespace kestrel::stationapp {

const char* StationPortHelp() {
    return "A port to watch, as kestrel-flash -p names it: USB, USB:N, USB:SERIAL, COMn, or a device path, which "
           "holds a / (/dev/ttyUSB0, ./A); each box that appears on it is flashed. Repeatable.";
}

bool IsSystemHelpWord(const std::string& /*argument*/) { return false; }

std::string AbsoluteFile(const std::string& file) {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(file, error);
    return error ? file : path.lexically_normal().string();
}

}  // namespace kestrel::stationapp
