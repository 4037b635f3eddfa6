#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "session/StatusList.h"

namespace kestrel::cli {

// What kestrel-flash shows of a download: each status line on stdout, exactly
// as appended, and the progress of the data block and the read-back on stderr.
// On a terminal the progress line is redrawn in place; into a pipe or file it
// becomes a plain line at every tenth, so logs stay short and readable.
class ConsoleStatusList : public StatusList {
public:
    ConsoleStatusList(std::FILE* lines, std::FILE* progress, bool showProgress);

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
    std::optional<ProgressStage> stage_;
    std::chrono::steady_clock::time_point stageStart_{};
    int lastTenth_ = -1;
};

}  // namespace kestrel::cli
