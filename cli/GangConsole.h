#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/TerminalWidth.h"
#include "session/StatusList.h"

namespace kestrel::cli {

// What a gang shows while its boxes run at once: each box's status lines on
// `lines`, led by its port, whole lines at a time; and, when `progress` is a
// terminal, one line below them for all the boxes, the stage and percent of
// each, redrawn in place and cut to the terminal's width. A box's own
// progress line would be overwritten by the next box's at once.
class GangConsole {
public:
    GangConsole(std::FILE* lines, std::FILE* progress, bool showProgress, std::vector<std::string> ports);
    ~GangConsole() { EndProgress(); }
    GangConsole(const GangConsole&) = delete;
    GangConsole& operator=(const GangConsole&) = delete;

    // The list the download of box `box` (an index into the ports) reports to.
    std::unique_ptr<StatusList> BoxList(std::size_t box);

    // Takes the progress line away for good, before the gang's summary.
    void EndProgress();

    // "/dev/ttyUSB0 writing 45%  /dev/ttyUSB1 reading 3%", or shorter to fit `columns`.
    std::string ProgressLine(int columns) const;

private:
    class BoxStatusList;
    struct BoxProgress {
        std::optional<ProgressStage> stage;
        unsigned percent = 0;
    };

    void AppendStatus(std::size_t box, const std::string& line);
    void Progress(std::size_t box, ProgressStage stage, unsigned percent);
    void Redraw();
    void TakeAwayProgressLine();

    std::FILE* lines_;
    std::FILE* progress_;
    bool redrawInPlace_;
    std::vector<std::string> ports_;
    std::mutex mutex_;
    TerminalWidth width_;
    std::vector<BoxProgress> boxes_;
    std::string shown_;  // the progress line on the terminal now; empty: none
    bool ended_ = false;
};

}  // namespace kestrel::cli
