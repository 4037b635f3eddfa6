#pragma once

#include <cstdint>
#include <string>

#include <optional>

#include "base/Clock.h"
#include "session/DownloadWorkflow.h"
#include "session/OpenFailure.h"
#include "session/StatusList.h"

namespace kestrel {

// What the progress bar shows: a value of a maximum, and its text in place of
// a percentage.
struct BarView {
    int value = 0;
    int maximum = 1;
    std::string text;
};

// The drawing that a front end does for the status list and the progress bar.
// Called on the front end's thread only.
class DialogView {
public:
    virtual ~DialogView() = default;
    virtual void AddLine(const std::string& line) = 0;
    virtual void ClearLines() = 0;
    virtual int LineCount() const = 0;
    // Makes `line` (from 0) the top visible line, as far as the list can scroll.
    virtual void ShowTopLine(int line) = 0;
    virtual void ShowBar(const BarView& bar) = 0;
    // Paints the lines before returning.
    virtual void RepaintLines() = 0;
};

// The dialog's status list: lines with the scroll rule, and a bar that counts
// down the synchronisation, shows the data's progress, and after an error the
// error instead of the last stage's percentage.
class DialogStatus : public StatusList {
public:
    explicit DialogStatus(DialogView& view, Clock& clock = SteadyClock()) : view_(view), clock_(clock) {}

    void AppendStatus(const std::string& line) override;
    void StageStarted(SessionStage stage) override;
    void Clear() override;
    void Progress(ProgressStage stage, std::uint32_t done, std::uint32_t total) override;
    void RepaintNow() override;
    void ApplyScrollRule() override;

    // Before a download over `linkName` starts: the bar names the link while it is opened.
    void DownloadStarting(std::string linkName) { openingLink_ = std::move(linkName); }
    // While the box is awaited the front end calls Tick about every 200 ms.
    bool CountingDown() const { return countingDown_; }
    void Tick();
    // After a download: when the link could not be opened (`openFailure`: what
    // and why, as the session reported it), the bar says why, below the
    // unchanged lines; after a success it gives the verdict. Returns the reason
    // it showed, empty when there was none.
    std::string DownloadEnded(std::optional<DownloadOutcome> outcome,
                              const std::optional<OpenFailure>& openFailure = std::nullopt);

private:
    void ShowNote(const std::string& text);
    void Show(int value, int maximum, std::string text);

    DialogView& view_;
    Clock& clock_;
    bool countingDown_ = false;
    bool readBack_ = false;  // the box asked for the image back, and the download read it
    std::string openingLink_;
    std::uint32_t syncStartMs_ = 0;
};

}  // namespace kestrel
