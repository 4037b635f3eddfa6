#pragma once

#include <QRect>
#include <QSize>

// Where the controls of the two dialogs are, in dialog units (x, y, width,
// height), as the dialogs have always been laid out. DialogUnitsToPixels turns
// them into pixels for the font in use.
namespace kestrel::dialog_template {

// The main dialog, in template (and tab) order.
inline constexpr QSize kMainClient{267, 153};
inline constexpr QRect kCloseButton{137, 72, 86, 16};
inline constexpr QRect kBrowseButton{241, 58, 18, 14};
inline constexpr QRect kPathField{7, 58, 230, 14};
inline constexpr QRect kStartButton{7, 86, 252, 14};
inline constexpr QRect kLoadLabel{7, 14, 55, 8};
inline constexpr QRect kSelectLabel{7, 29, 70, 8};
inline constexpr QRect kPicture{159, 7, 100, 20};
inline constexpr QRect kStatusList{7, 108, 252, 38};
inline constexpr QRect kStartLabel{7, 44, 58, 8};
inline constexpr QRect kLinkDropDown{83, 26, 48, 77};  // height: with the list open

// Added below the status list for the download's progress; the window grows by
// this row and every other control keeps its place.
inline constexpr QRect kProgressBar{7, 150, 252, 10};
inline constexpr QSize kMainClientWithProgress{267, 167};

// The about box.
inline constexpr QSize kAboutClient{235, 55};
inline constexpr QRect kAboutIcon{11, 17, 21, 20};
inline constexpr QRect kAboutTitle{40, 10, 119, 8};
inline constexpr QRect kAboutVersion{40, 25, 119, 8};
inline constexpr QRect kAboutOk{178, 7, 50, 16};

}  // namespace kestrel::dialog_template
