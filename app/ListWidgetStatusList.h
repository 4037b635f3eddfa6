#pragma once

#include <QListWidget>
#include <QProgressBar>

#include "session/StatusList.h"

namespace kestrel {

// The status list of the dialog: lines on a list widget, progress on a bar.
// GUI thread only; QueuedStatusList brings a download's calls here.
class ListWidgetStatusList : public StatusList {
public:
    ListWidgetStatusList(QListWidget& list, QProgressBar& progress);

    void AppendStatus(const std::string& line) override;
    // Empties the list and resets the bar.
    void Clear() override;
    void Progress(ProgressStage stage, std::uint32_t done, std::uint32_t total) override;
    // Paints the list before returning.
    void RepaintNow() override;
    // From the third line on, asks for line count - 3 as the top visible line:
    // the three newest lines are the first ones in view, as far as the list can
    // scroll.
    void ApplyScrollRule() override;

private:
    QListWidget& list_;
    QProgressBar& progress_;
};

}  // namespace kestrel
