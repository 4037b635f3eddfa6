#pragma once

#include <QListWidget>
#include <QProgressBar>
#include <QString>

#include "app/DialogStatus.h"

namespace kestrel {

// The status lines on a list widget and the bar on a progress bar.
class QtDialogView : public DialogView {
public:
    QtDialogView(QListWidget& list, QProgressBar& bar) : list_(list), bar_(bar) {}

    void AddLine(const std::string& line) override;
    void ClearLines() override { list_.clear(); }
    int LineCount() const override { return list_.count(); }
    void ShowTopLine(int line) override;
    void ShowBar(const BarView& bar) override;
    void RepaintLines() override;
    // Fits the bar's text to the bar again, after its size or font changed.
    void RefitBar();

private:
    QListWidget& list_;
    QProgressBar& bar_;
    QString barText_;  // whole; the bar shows what fits of it
};

}  // namespace kestrel
