#include "app/qt/QtDialogView.h"

#include <QFontMetrics>
#include <QString>

#include "app/TextFit.h"

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
    barText_ = QString::fromUtf8(bar.text.c_str());
    bar_.setToolTip(barText_);
    RefitBar();
}

void QtDialogView::RefitBar() {
    // A text wider than the bar would wrap onto a second line that a one-line bar clips.
    const QFontMetrics metrics = bar_.fontMetrics();
    const int width = bar_.contentsRect().width() - 2 * metrics.averageCharWidth();
    const std::string fitted = ElideMiddle(barText_.toStdString(), width, [&metrics](const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text));
    });
    bar_.setFormat(QString::fromStdString(fitted));
}

void QtDialogView::RepaintLines() {
    // The lines are painted by the list's viewport, which repainting the list
    // itself does not reach.
    list_.repaint();
    list_.viewport()->repaint();
}

}  // namespace kestrel
