#pragma once

#include <string>

#include <windows.h>

namespace kestrel::stationapp::win32 {

// Saves what `window` shows, frame included, as a PNG file (through the
// system's Windows Imaging Component); false when it could not be written.
bool SaveWindowPicture(HWND window, const std::string& file);

}  // namespace kestrel::stationapp::win32
