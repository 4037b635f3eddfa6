#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace kestrel {

// The pixels per four dialog units across (x) and per eight down (y): the
// average character width and the character height of the dialog's font.
struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};

// The dialogs' font: the system's font at 8 points.
QFont DialogTemplateFont(QFont systemFont);

// Measures `font` the classic way: the average width of the 52 letters A-Z and
// a-z, rounded, and the font's height.
DialogBaseUnits MeasureDialogFont(const QFont& font);

// Converts a rectangle given in dialog units. Each edge is converted on its
// own, so that controls that touch in dialog units also touch in pixels.
QRect DialogUnitsToPixels(const QRect& dialogUnits, DialogBaseUnits base);
QSize DialogUnitsToPixels(const QSize& dialogUnits, DialogBaseUnits base);

}  // namespace kestrel
