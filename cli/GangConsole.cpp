#include "cli/GangConsole.h"

#include <unistd.h>

namespace kestrel::cli {

class GangConsole::BoxStatusList : public StatusList {
public:
    BoxStatusList(GangConsole& console, std::size_t box) : console_(console), box_(box) {}
    void AppendStatus(const std::string& line) override { console_.AppendStatus(box_, line); }
    void Clear() override {}
    void Progress(ProgressStage stage, std::uint32_t done, std::uint32_t total) override {
        if (total != 0) {
            console_.Progress(box_, stage, static_cast<unsigned>(std::uint64_t{done} * 100 / total));
        }
    }

private:
    GangConsole& console_;
    std::size_t box_;
};

GangConsole::GangConsole(std::FILE* lines, std::FILE* progress, bool showProgress, std::vector<std::string> ports)
    : lines_(lines),
      progress_(progress),
      redrawInPlace_(showProgress && IsTerminal(progress)),
      ports_(std::move(ports)),
      width_(progress),
      boxes_(ports_.size()) {}

void GangConsole::EndProgress() {
    std::lock_guard lock(mutex_);
    TakeAwayProgressLine();
    ended_ = true;
}

std::unique_ptr<StatusList> GangConsole::BoxList(std::size_t box) {
    return std::make_unique<BoxStatusList>(*this, box);
}

void GangConsole::AppendStatus(std::size_t box, const std::string& line) {
    std::lock_guard lock(mutex_);
    // The status lines stay above the progress line: it goes, the line comes, it is drawn again.
    const bool hadProgress = !shown_.empty();
    TakeAwayProgressLine();
    std::fprintf(lines_, "%s: %s\n", ports_[box].c_str(), line.c_str());
    std::fflush(lines_);
    if (hadProgress) {
        Redraw();
    }
}

void GangConsole::Progress(std::size_t box, ProgressStage stage, unsigned percent) {
    if (!redrawInPlace_) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (ended_) {
        return;
    }
    boxes_[box] = {stage, percent};
    Redraw();
}

void GangConsole::Redraw() {
    const std::string text = ProgressLine(width_.Columns());
    if (text == shown_) {
        return;  // called for every piece of every box: only a change is drawn
    }
    std::fprintf(progress_, "\r%s\033[K", text.c_str());
    std::fflush(progress_);
    shown_ = text;
}

void GangConsole::TakeAwayProgressLine() {
    if (!shown_.empty()) {
        std::fputs("\r\033[K", progress_);
        std::fflush(progress_);
        shown_.clear();
    }
}

std::string GangConsole::ProgressLine(int columns) const {
    // By port names first; by the boxes' numbers (in the order of the ports) when those do not fit.
    std::string named, numbered;
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        const BoxProgress& box = boxes_[i];
        const std::string percent = std::to_string(box.percent) + "%";
        const bool writing = box.stage == ProgressStage::WritingData;
        named += (i == 0 ? "" : "  ") + ports_[i] + " " +
                 (!box.stage ? std::string("waiting") : (writing ? "writing " : "reading ") + percent);
        numbered += (i == 0 ? "#" : " #") + std::to_string(i + 1) + " " +
                    (!box.stage ? std::string("-") : (writing ? "W" : "R") + percent);
    }
    return FitColumns({named, numbered}, columns);
}

}  // namespace kestrel::cli
