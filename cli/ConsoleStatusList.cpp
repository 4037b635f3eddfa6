#include "cli/ConsoleStatusList.h"

#include <unistd.h>

#include <cmath>

namespace kestrel::cli {

namespace {

const char* StageName(ProgressStage stage) {
    return stage == ProgressStage::WritingData ? "Writing data" : "Reading back";
}

}  // namespace

ConsoleStatusList::ConsoleStatusList(std::FILE* lines, std::FILE* progress, bool showProgress, Clock* clock)
    : lines_(lines),
      progress_(progress),
      showProgress_(showProgress),
      redrawInPlace_(IsTerminal(progress)),
      width_(progress),
      clock_(clock != nullptr ? *clock : SteadyClock()) {}

void ConsoleStatusList::AppendStatus(const std::string& line) {
    EndProgressLine();
    std::fwrite(line.data(), 1, line.size(), lines_);
    std::fputc('\n', lines_);
    std::fflush(lines_);  // a script reading the pipe sees each stage as it happens
}

void ConsoleStatusList::EndProgressLine() {
    if (progressLineOpen_) {
        std::fputc('\n', progress_);
        std::fflush(progress_);
        progressLineOpen_ = false;
    }
}

void ConsoleStatusList::Progress(ProgressStage stage, std::uint32_t done, std::uint32_t total) {
    if (!showProgress_ || total == 0) {
        return;
    }
    const std::uint32_t now = clock_.TickMs();
    if (stage_ != stage) {
        EndProgressLine();
        stage_ = stage;
        stageStartMs_ = now;
        lastTenth_ = -1;
    }
    const double elapsed = (now - stageStartMs_) / 1000.0;
    std::string text = ProgressText(stage, done, total, elapsed);
    if (redrawInPlace_) {
        // What a narrow terminal leaves out first: the rate and time left, then the byte counts.
        const unsigned percent = static_cast<unsigned>(std::uint64_t{done} * 100 / total);
        text = FitColumns({text, ProgressText(stage, done, total, 0),
                           std::string(StageName(stage)) + " " + std::to_string(percent) + "%"},
                          width_.Columns());
        std::fprintf(progress_, "\r%s\033[K", text.c_str());
        progressLineOpen_ = true;
        if (done >= total) {
            EndProgressLine();
        }
    } else {
        const int tenth = static_cast<int>(std::uint64_t{done} * 10 / total);
        if (tenth == lastTenth_) {
            return;
        }
        lastTenth_ = tenth;
        std::fprintf(progress_, "%s\n", text.c_str());
    }
    std::fflush(progress_);
}

std::string ConsoleStatusList::ProgressText(ProgressStage stage, std::uint32_t done, std::uint32_t total,
                                            double elapsedSeconds) {
    const char* what = StageName(stage);
    const unsigned percent = static_cast<unsigned>(std::uint64_t{done} * 100 / total);
    char text[160];
    int length = std::snprintf(text, sizeof text, "%s %u/%u bytes %3u%%", what, done, total, percent);
    // A rate needs a little time behind it to mean anything.
    if (elapsedSeconds >= 0.05 && done > 0) {
        const double rate = done / elapsedSeconds;
        const double leftSeconds = (total - done) / rate;
        const auto left = static_cast<long>(std::lround(leftSeconds));
        std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), "  %.1f kB/s  %ld:%02ld left",
                      rate / 1000.0, left / 60, left % 60);
    }
    return text;
}

}  // namespace kestrel::cli
