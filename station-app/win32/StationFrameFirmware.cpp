// The station window's firmware: the file picked through Windows' own dialog,
// and what a download of it would read, shown before the lot starts.
#include "station-app/win32/StationFrame.h"

#include <commdlg.h>

#include "base/Utf16.h"
#include "station-app/FirmwareSummary.h"
#include "station-app/win32/StationControls.h"

namespace kestrel::stationapp::win32 {

namespace {

constexpr DWORD kLongestPath = 32768;

}  // namespace

void StationFrame::ChooseFirmware() {
    std::wstring file(kLongestPath, L'\0');
    const std::wstring current = WideFromUtf8(Text(kFirmwareField));
    std::wstring folder =
        current.substr(0, current.find_last_of(L"\\/") == std::wstring::npos ? 0 : current.find_last_of(L"\\/"));
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = L"Firmware (*.mot, *.bin)\0*.mot;*.bin\0All files (*.*)\0*.*\0";
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = kLongestPath;
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrTitle = L"Firmware";
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameW(&dialog)) {
        return;
    }
    file.resize(file.find(L'\0'));
    ::SetWindowTextW(Item(kFirmwareField), file.c_str());
    ShowFirmware();
}

void StationFrame::ShowFirmware() {
    const std::string firmware = Text(kFirmwareField);
    if (firmware.empty()) {
        SetText(kFirmwareFacts, "no firmware chosen");
        SetText(kApproval, "");
        return;
    }
    const FirmwareSummary summary = SummariseFirmware(firmware, commandLine_.approved);
    if (!summary.error.empty()) {
        SetText(kFirmwareFacts, summary.error);
        SetText(kApproval, "");
        return;
    }
    SetText(kFirmwareFacts, std::to_string(summary.size) + " bytes, " +
                                (summary.records >= 0 ? std::to_string(summary.records) + " records" : "raw image") +
                                "\nSHA-256 " + summary.sha256);
    SetText(kApproval, summary.approval);
}

}  // namespace kestrel::stationapp::win32
