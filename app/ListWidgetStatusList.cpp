#include "app/ListWidgetStatusList.h"

#include <algorithm>
#include <climits>

#include <QString>

namespace kestrel {

namespace {

int ClampToInt(std::uint32_t value) { return static_cast<int>(std::min<std::uint32_t>(value, INT_MAX)); }

}  // namespace

ListWidgetStatusList::ListWidgetStatusList(QListWidget& list, QProgressBar& progress)
    : list_(list), progress_(progress) {}

void ListWidgetStatusList::AppendStatus(const std::string& line) {
    list_.addItem(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    ApplyScrollRule();
}

void ListWidgetStatusList::Clear() {
    list_.clear();
    progress_.reset();
    progress_.setFormat(QString());
}

void ListWidgetStatusList::Progress(ProgressStage stage, std::uint32_t done, std::uint32_t total) {
    progress_.setFormat(stage == ProgressStage::WritingData ? QStringLiteral("Writing data %p%")
                                                            : QStringLiteral("Reading data %p%"));
    // A range of 0..0 would make the bar a busy indicator.
    progress_.setRange(0, std::max(1, ClampToInt(total)));
    progress_.setValue(std::min(ClampToInt(done), progress_.maximum()));
}

void ListWidgetStatusList::RepaintNow() {
    // The lines are painted by the list's viewport, which repainting the list
    // itself does not reach.
    list_.repaint();
    list_.viewport()->repaint();
}

// The list clamps the request at its end: where it shows more than three whole
// lines, the last lines stay in view below the three newest.
void ListWidgetStatusList::ApplyScrollRule() {
    const int count = list_.count();
    if (count > 2) {
        list_.scrollToItem(list_.item(count - 3), QAbstractItemView::PositionAtTop);
    }
}

}  // namespace kestrel
