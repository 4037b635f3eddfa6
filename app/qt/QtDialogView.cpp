#include "app/qt/QtDialogView.h"

#include <QString>

namespace kestrel {

void QtDialogView::AddLine(const std::string& line) {
    list_.addItem(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
}

// The list clamps the request at its end: where it shows more than three whole
// lines, the last lines stay in view below the three newest.
void QtDialogView::ShowTopLine(int line) { list_.scrollToItem(list_.item(line), QAbstractItemView::PositionAtTop); }

void QtDialogView::ShowBar(const BarView& bar) {
    bar_.setRange(0, bar.maximum);
    bar_.setValue(bar.value);
    bar_.setFormat(QString::fromUtf8(bar.text.c_str()));
    bar_.setToolTip(QString::fromUtf8(bar.text.c_str()));
}

void QtDialogView::RepaintLines() {
    // The lines are painted by the list's viewport, which repainting the list
    // itself does not reach.
    list_.repaint();
    list_.viewport()->repaint();
}

}  // namespace kestrel
