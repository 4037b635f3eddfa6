// The identifiers of the station window's controls, for the window and for the
// tests that drive it from outside as a technician would.
#pragma once

namespace kestrel::stationapp::win32 {

inline constexpr wchar_t kStationCaption[] = L"Kestrel Station";

enum StationControl : int {
    kFirmwareField = 100,
    kBrowseButton,
    kFirmwareFacts,
    kApproval,
    kOperatorField,
    kStationField,
    kLotField,
    kPortsField,
    kAllUsbBox,
    kStartButton,
    kStopButton,
    kMessage,
    kCounters,
    kLastResults,
    kLotGroup,
    kBoxesGroup,
    kCountersGroup,
    kScanField,
    kDatabaseLink,
    kFirstLabel = 200,  // the labels, one after the other
    kFirstTile = 1000,  // the tiles, in the order their boxes first appeared
};

}  // namespace kestrel::stationapp::win32
