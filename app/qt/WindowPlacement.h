#pragma once

class QWidget;

namespace kestrel {

// Moves `window`, not shown yet, to the centre of the screen's free area: a
// window without a parent otherwise opens wherever the window system likes.
void CentreOnScreen(QWidget& window);

}  // namespace kestrel
