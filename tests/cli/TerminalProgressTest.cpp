// Progress on a terminal of a fixed width, read back through a model of the
// screen: a redrawn line that wraps leaves rows behind, and the status lines
// above it scroll away.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

#include "CliSupport.h"
#include "cli/ConsoleStatusList.h"
#include "links/Clock.h"

namespace kestrel::testing {
namespace {

// A pseudo-terminal whose size the test sets; what is written to its device is read from `master`.
struct Terminal {
    explicit Terminal(int columns) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        device = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        Resize(columns);
    }
    ~Terminal() {
        ::close(device);
        ::close(master);
    }
    void Resize(int columns) const {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = static_cast<unsigned short>(columns);
        ::ioctl(master, TIOCSWINSZ, &size);
    }
    // What has arrived, waiting up to `ms` for the first bytes.
    std::string Read(int ms = 0) const {
        std::string text;
        char buffer[4096];
        for (pollfd entry{master, POLLIN, 0}; ::poll(&entry, 1, text.empty() ? ms : 0) > 0;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }
    int master = -1, device = -1;
};

// The rows a terminal `columns` wide shows: a character written past the last
// column goes to the next row, CR returns to column 0, ESC [ K clears the rest of the row.
struct Screen {
    explicit Screen(std::size_t width) : columns(width) {}
    void Write(const std::string& bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            rows.resize(std::max(rows.size(), row + 1));
            if (bytes[i] == '\033' && bytes.compare(i, 3, "\033[K") == 0)
                rows[row].resize(std::min(rows[row].size(), column)), i += 2;
            else if (bytes[i] == '\r' || bytes[i] == '\n')
                bytes[i] == '\r' ? column = 0 : ++row;
            else if (column == columns)
                row++, column = 0, --i;
            else
                rows[row].resize(std::max(rows[row].size(), column + 1), ' '), rows[row][column++] = bytes[i];
        }
    }
    Lines Shown() const {
        Lines shown;
        std::ranges::copy_if(rows, std::back_inserter(shown), [](const std::string& r) { return !r.empty(); });
        return shown;
    }
    std::size_t columns, row = 0, column = 0;
    Lines rows;
};

TEST(TerminalProgress, ALineRedrawnOnANarrowTerminalFitsItAndFollowsItsWidth) {
    Terminal terminal(40);
    std::FILE* progress = ::fdopen(::dup(terminal.device), "w");
    std::FILE* lines = std::tmpfile();
    ManualClock clock;
    Screen screen(40);
    {
        cli::ConsoleStatusList list(lines, progress, true, &clock);
        const auto stage = [&](ProgressStage which) {
            for (std::uint32_t done = 0; done <= 131072; done += 4096, clock.Advance(1000))
                list.Progress(which, done, 131072);  // with a rate and the time left: some 60 columns
            list.AppendStatus("a status line");
            screen.Write(terminal.Read(1000));
        };
        stage(ProgressStage::WritingData);
        stage(ProgressStage::ReadingBack);
        terminal.Resize(20);
        std::raise(SIGWINCH);  // what the terminal sends its foreground processes
        screen.columns = 20;
        stage(ProgressStage::WritingData);
    }
    EXPECT_EQ(screen.Shown(), (Lines{"Writing data 131072/131072 bytes 100%", "Reading back 131072/131072 bytes 100%",
                                     "Writing data 100%"}));
    std::fclose(progress);
    std::fclose(lines);
}

TEST(TerminalProgress, AGangShowsOneProgressLineForAllItsBoxesThatFitsTheTerminal) {
    BoxProcess boxes[3];
    Terminal terminal(40);
    std::atomic<bool> running{true};
    std::string shown;
    std::thread reader([&] {
        while (running)
            shown += terminal.Read(50);
    });
    const int device = terminal.device;
    const auto run = Flash({"-p", boxes[0].linkPath, "-p", boxes[1].linkPath, "-p", boxes[2].linkPath, kMot},
                           {.inChild = [device] { ::dup2(device, STDERR_FILENO); }});
    running = false;
    reader.join();
    shown += terminal.Read();
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    // Numbered, as three paths do not fit: "#1 W45% #2 W50% #3 R3%".
    EXPECT_NE(shown.find("#3 R"), std::string::npos) << shown;
    Screen screen(40);
    screen.Write(shown);
    for (const auto& row : screen.Shown())
        EXPECT_EQ(row.find('%'), std::string::npos) << "left behind: " << row;
}

}  // namespace
}  // namespace kestrel::testing
