#include "app/DialogStatus.h"

#include <algorithm>
#include <climits>

#include "app/DialogLogic.h"
#include "session/DataConverter.h"
#include "station/LinkOpenHint.h"

namespace kestrel {

namespace {

const std::string kSyncLine = "Waiting for synchronising ... ";
const std::string kOpeningLine = "Opening interface... ";
const std::string kErrorPrefix = "Error: ";

int ClampToInt(std::uint64_t value) { return static_cast<int>(std::min<std::uint64_t>(value, INT_MAX)); }

}  // namespace

void DialogStatus::AppendStatus(const std::string& line) {
    view_.AddLine(line);
    ApplyScrollRule();
    if (line.compare(0, kErrorPrefix.size(), kErrorPrefix) == 0) {
        countingDown_ = false;
        Show(0, 1, line);
    } else if (line == kOpeningLine && !openingLink_.empty()) {
        Show(0, 1, OpeningBarText(openingLink_));
    } else if (line == kSyncLine) {
        countingDown_ = true;
        syncStartMs_ = clock_.TickMs();
        Tick();
    } else if (countingDown_) {
        countingDown_ = false;  // the box answered
        Show(0, 1, "");
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
    const int bound = static_cast<int>(DataConverter::kSyncTimeoutMs);
    const int left = bound - static_cast<int>(std::min<std::uint32_t>(elapsed, DataConverter::kSyncTimeoutMs));
    // Whole seconds rounded up, and never 0: the session waits through the bound's last millisecond.
    Show(left, bound, "Waiting for the box: " + std::to_string(std::max(1, (left + 999) / 1000)) + " s");
}

std::string DialogStatus::DownloadEnded(std::optional<DownloadOutcome> outcome, const std::string& linkName,
                                        int openError) {
    countingDown_ = false;
    if (outcome == DownloadOutcome::Success) {
        // The last stage's percentage would leave the user to guess how it ended.
        Show(1, 1, readBack_ ? "Flashed and verified" : "Flashed");
    } else if (outcome == DownloadOutcome::LinkFailed) {
        if (std::string hint = LinkOpenHint(linkName, openError, HintReader::Dialog); !hint.empty()) {
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
