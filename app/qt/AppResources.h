#pragma once

#include <QIcon>
#include <QPixmap>

namespace kestrel {

// The application icon (icon 128) in its sizes.
QIcon ApplicationIcon();
// The dialog's picture (bitmap 133), 150 x 32 pixels.
QPixmap DialogPicture();

}  // namespace kestrel
