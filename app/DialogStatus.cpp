#include "app/DialogStatus.h"

#include <algorithm>
#include <climits>

#include "app/DialogLogic.h"
#include "session/Limits.h"
#include "station/OpenFailureHint.h"

namespace kestrel {

namespace {

int ClampToInt(std::uint64_t value) { return static_cast<int>(std::min<std::uint64_t>(value, INT_MAX)); }

}  // namespace

void DialogStatus::AppendStatus(const std::string& line) {
    view_.AddLine(line);
    ApplyScrollRule();
    if (IsErrorLine(line)) {
        countingDown_ = false;
        Show(0, 1, line);
    } else if (countingDown_) {
        countingDown_ = false;  // the box answered
        Show(0, 1, "");
    }
}

void DialogStatus::StageStarted(SessionStage stage) {
    switch (stage) {
        case SessionStage::OpeningLink:
            if (!openingLink_.empty()) {
                Show(0, 1, OpeningBarText(openingLink_));
            }
            break;
        case SessionStage::Synchronising:
            countingDown_ = true;
            syncStartMs_ = clock_.TickMs();
            Tick();
            break;
    }
}

void DialogStatus::Clear() {
    view_.ClearLines();
    countingDown_ = false;
    readBack_ = false;
    Show(0, 1, "");
}

void DialogStatus::Progress(ProgressStage stage, std::uint32_t done, std::uint32_t total) {
    countingDown_ = false;
    readBack_ = readBack_ || stage == ProgressStage::ReadingBack;
    // A maximum of 0 would make a bar a busy indicator.
    const int maximum = std::max(1, ClampToInt(total));
    const int value = std::min(ClampToInt(done), maximum);
    const int percent = static_cast<int>(std::uint64_t(value) * 100 / std::uint64_t(maximum));
    Show(value, maximum,
         (stage == ProgressStage::WritingData ? "Writing data " : "Reading data ") + std::to_string(percent) + "%");
}

void DialogStatus::Tick() {
    if (!countingDown_) {
        return;
    }
    const std::uint32_t elapsed = clock_.TickMs() - syncStartMs_;
    const int bound = static_cast<int>(kSyncTimeoutMs);
    const int left = bound - static_cast<int>(std::min<std::uint32_t>(elapsed, kSyncTimeoutMs));
    // Whole seconds rounded up, and never 0: the session waits through the bound's last millisecond.
    Show(left, bound, "Waiting for the box: " + std::to_string(std::max(1, (left + 999) / 1000)) + " s");
}

std::string DialogStatus::DownloadEnded(std::optional<DownloadOutcome> outcome,
                                        const std::optional<OpenFailure>& openFailure) {
    countingDown_ = false;
    if (outcome == DownloadOutcome::Success) {
        // The last stage's percentage would leave the user to guess how it ended.
        Show(1, 1, readBack_ ? "Flashed and verified" : "Flashed");
    } else if (outcome == DownloadOutcome::LinkFailed && openFailure) {
        const OpenFailureFacts facts = FactsOf(*openFailure);
        if (std::string hint = DescribeOpenFailure(facts, true); !hint.empty()) {
            if (facts.driverMissing) {
                hint += " chosen under \"2. Select COM or USB\"";
            }
            ShowNote(hint);
            return hint;
        }
    }
    return {};
}

void DialogStatus::ShowNote(const std::string& text) {
    countingDown_ = false;
    Show(0, 1, text);
}

void DialogStatus::RepaintNow() { view_.RepaintLines(); }

void DialogStatus::ApplyScrollRule() {
    if (const auto top = ScrolledTopLine(view_.LineCount())) {
        view_.ShowTopLine(*top);
    }
}

void DialogStatus::Show(int value, int maximum, std::string text) { view_.ShowBar({value, maximum, std::move(text)}); }

}  // namespace kestrel
