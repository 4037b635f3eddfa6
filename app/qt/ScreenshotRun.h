#pragma once

#include <QString>

namespace kestrel {

class Ckestrel2Dlg;

// For pictures of the dialog at work: once `dialog` is shown, starts the
// download (if a file is loaded), saves a picture of the window to `path`
// when it has ended, and closes the window. Works without a display.
void ArrangeScreenshot(Ckestrel2Dlg& dialog, const QString& path);

}  // namespace kestrel
