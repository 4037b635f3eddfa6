#pragma once

#include <functional>
#include <string>

namespace kestrel {

// The width of a UTF-8 text as a front end draws it, in its own units.
using TextWidth = std::function<int(const std::string& text)>;

// `text` as it is when it fits `width`; else cut in the middle, at whole
// characters, with an ellipsis in place of what went, keeping as much of the
// start and the end as fits: two device paths alike up to a serial number near
// their ends stay apart, and a reason keeps its device and its last words.
std::string ElideMiddle(const std::string& text, int width, const TextWidth& measure);

// The folder a file picker opens in for the path `fieldText`: that folder when
// it is one, else the folder of the file named there when that folder exists;
// empty (the picker's own choice) for an empty field or a path that leads nowhere.
std::string PickerStartFolder(const std::string& fieldText);

}  // namespace kestrel
