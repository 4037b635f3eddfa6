// Progress on a terminal of a fixed width, read back through a model of the
// screen: a redrawn line that wraps leaves rows behind, and the status lines
// above it scroll away.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <csignal>
#include <future>
#include <tuple>

#include "CliSupport.h"
#include "base/Clock.h"
#include "cli/ConsoleStatusList.h"
#include "cli/TerminalWidth.h"

namespace kestrel::testing {
namespace {

// A pseudo-terminal whose width the test sets; what is written to `device` is read from `master`.
struct Terminal {
    Terminal() : master(::posix_openpt(O_RDWR | O_NOCTTY)) {
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        device = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    }
    ~Terminal() { ::close(device), ::close(master); }
    void Resize(unsigned short columns) const {
        const winsize size{.ws_row = 24, .ws_col = columns, .ws_xpixel = 0, .ws_ypixel = 0};
        ::ioctl(master, TIOCSWINSZ, &size);
    }
    // Until nothing more comes for 100 ms: the terminal passes the bytes on asynchronously.
    std::string Read() const {
        std::string text;
        char buffer[4096];
        for (pollfd entry{master, POLLIN, 0}; ::poll(&entry, 1, 100) > 0 && (entry.revents & POLLIN);)
            text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(::read(master, buffer, sizeof buffer), 0)));
        return text;
    }
    int master, device = -1;
};

// The rows a terminal `columns` wide shows, the empty ones left out: a character written past
// the last column goes to the next row, CR returns to column 0, ESC [ K clears the rest of the row.
Lines ShownRows(const std::string& bytes, std::size_t columns, Lines rows = {}) {
    std::size_t row = rows.size(), column = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        rows.resize(std::max(rows.size(), row + 1));
        if (bytes.compare(i, 3, "\033[K") == 0)
            rows[row].resize(std::min(rows[row].size(), column)), i += 2;
        else if (bytes[i] == '\r' || bytes[i] == '\n')
            bytes[i] == '\r' ? column = 0 : ++row;
        else if (column == columns)
            row++, column = 0, --i;
        else
            rows[row].resize(std::max(rows[row].size(), column + 1), ' '), rows[row][column++] = bytes[i];
    }
    std::erase(rows, "");
    return rows;
}

// The fullest choice that leaves the last column free, else the last one cut there, by characters, not bytes.
TEST(TerminalProgress, ALineTakesTheFullestChoiceThatLeavesTheLastColumnFree) {
    for (const auto& [choices, columns, shown] : std::vector<std::tuple<Lines, int, std::string>>{
             {{"abcde", "abc"}, 0, "abcde"},
             {{"abcde", "abc"}, 6, "abcde"},
             {{"abcde", "abc"}, 5, "abc"},
             {{"abcde", "abc"}, 3, "ab"},
             {{"abcde", "abc"}, 1, ""},
             {{"\xc3\x84\xc3\x96x"}, 3, "\xc3\x84\xc3\x96"},
             {{"\xc3\x84\xc3\x96", "x"}, 3, "\xc3\x84\xc3\x96"},
             {{}, 10, ""},
         }) {
        EXPECT_EQ(cli::FitColumns(choices, columns), shown) << columns << " columns, " << choices.size();
    }
}

TEST(TerminalProgress, ALineRedrawnOnATerminalFitsItsWidthAndFollowsItWhenResized) {
    Terminal terminal;
    std::FILE* progress = ::fdopen(::dup(terminal.device), "w");
    std::FILE* lines = std::tmpfile();
    ManualClock clock;
    Lines rows;
    {
        cli::ConsoleStatusList list(lines, progress, true, &clock);
        // The data at 4096 bytes a second, on a terminal resized before each stage.
        for (const auto& [stage, columns] : {std::pair{ProgressStage::WritingData, 80},
                                             {ProgressStage::ReadingBack, 40},
                                             {ProgressStage::WritingData, 20}}) {
            terminal.Resize(static_cast<unsigned short>(columns));
            std::raise(SIGWINCH);  // what the terminal sends its foreground processes
            for (std::uint32_t done = 0; done <= 131072; done += 4096, clock.Advance(1000))
                list.Progress(stage, done, 131072);
            list.AppendStatus("a status line");  // to `lines`, not to the terminal
            rows = ShownRows(terminal.Read(), static_cast<std::size_t>(columns), rows);
        }
    }
    EXPECT_EQ(rows, (Lines{"Writing data 131072/131072 bytes 100%  4.1 kB/s  0:00 left",
                           "Reading back 131072/131072 bytes 100%", "Writing data 100%"}));
    std::fclose(progress);
    std::fclose(lines);
}

// Into a file: each stage's rate counts from its own first event, which has no time behind it and so no rate.
TEST(TerminalProgress, AStageShowsARateOnlyOnceTimeHasPassedSinceItsFirstEvent) {
    const TempDir dir;
    const std::string path = (dir.Path() / "progress").string();
    std::FILE* progress = std::fopen(path.c_str(), "w");
    ManualClock clock(7000);
    {
        cli::ConsoleStatusList list(progress, progress, true, &clock);
        for (const auto stage : {ProgressStage::WritingData, ProgressStage::ReadingBack}) {
            list.Progress(stage, 4096, 8192);
            clock.Advance(2000);
            list.Progress(stage, 8192, 8192);
        }
    }
    std::fclose(progress);
    EXPECT_EQ(SplitLines(ReadFile(path)),
              (Lines{"Writing data 4096/8192 bytes  50%", "Writing data 8192/8192 bytes 100%  4.1 kB/s  0:00 left",
                     "Reading back 4096/8192 bytes  50%", "Reading back 8192/8192 bytes 100%  4.1 kB/s  0:00 left"}));
    EXPECT_EQ(cli::ConsoleStatusList::ProgressText(ProgressStage::WritingData, 4096, 8192, 0.01),
              "Writing data 4096/8192 bytes  50%");  // 10 ms: too little to tell a rate
}

TEST(TerminalProgress, AGangShowsOneProgressLineForAllItsBoxesThatFitsTheTerminal) {
    BoxProcess boxes[3];
    Terminal terminal;
    terminal.Resize(40);
    auto flash = std::async(std::launch::async, [&] {
        return Flash({"-p", boxes[0].linkPath, "-p", boxes[1].linkPath, "-p", boxes[2].linkPath, kMot},
                     {.inChild = [device = terminal.device] { ::dup2(device, STDERR_FILENO); }});
    });
    std::string shown;
    // Read as it comes, or a full terminal would hold the program up.
    while (flash.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        shown += terminal.Read();
    shown += terminal.Read();
    const auto run = flash.get();
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    // Numbered, as three paths do not fit: "#1 W45% #2 W50% #3 R3%"; gone before the summary.
    EXPECT_NE(shown.find("#3 R"), std::string::npos) << shown;
    for (const auto& row : ShownRows(shown, 40))
        EXPECT_EQ(row.find('%'), std::string::npos) << "left behind: " << row;
}

}  // namespace
}  // namespace kestrel::testing
