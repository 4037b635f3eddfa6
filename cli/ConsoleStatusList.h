#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "base/Clock.h"
#include "cli/TerminalWidth.h"
#include "session/StatusList.h"

namespace kestrel::cli {

// What kestrel-flash shows of a download: each status line on stdout, exactly
// as appended, and the progress of the data block and the read-back on stderr.
// On a terminal the progress line is redrawn in place, cut to the terminal's
// width; into a pipe or file it becomes a plain line at every tenth, so logs
// stay short and readable.
class ConsoleStatusList : public StatusList {
public:
    // `clock` null: the steady clock.
    ConsoleStatusList(std::FILE* lines, std::FILE* progress, bool showProgress, Clock* clock = nullptr);

    void AppendStatus(const std::string& line) override;
    void Clear() override {}
    void Progress(ProgressStage stage, std::uint32_t done, std::uint32_t total) override;

    // "Writing data 65536/131078 bytes  50%  11.5 kB/s  0:05 left"
    static std::string ProgressText(ProgressStage stage, std::uint32_t done, std::uint32_t total,
                                    double elapsedSeconds);

private:
    void EndProgressLine();

    std::FILE* lines_;
    std::FILE* progress_;
    bool showProgress_;
    bool redrawInPlace_;
    bool progressLineOpen_ = false;  // a redrawn line waits for its end
    TerminalWidth width_;
    Clock& clock_;
    std::optional<ProgressStage> stage_;
    std::uint32_t stageStartMs_ = 0;
    int lastTenth_ = -1;
};

}  // namespace kestrel::cli
