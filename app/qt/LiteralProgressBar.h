#pragma once

#include <QProgressBar>
#include <QString>

namespace kestrel {

// A progress bar that shows its format as it stands: the bar's texts are the
// dialog's own, whole, and a port or file name in them may hold "%p", "%v" or
// "%m", which a plain bar would replace with numbers (it knows no escape).
class LiteralProgressBar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;
    QString text() const override { return format(); }
};

}  // namespace kestrel
