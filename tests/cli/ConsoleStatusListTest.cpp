#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/ConsoleStatusList.h"

namespace kestrel::cli {
namespace {

std::string Contents(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) {
        text += static_cast<char>(c);
    }
    return text;
}

TEST(ConsoleStatusList, LinesGoOutExactlyAndProgressIntoAFileOnlyAtEachTenth) {
    std::FILE* lines = std::tmpfile();
    std::FILE* progress = std::tmpfile();
    {
        ConsoleStatusList status(lines, progress, true);
        status.AppendStatus("Writing data... ");
        for (std::uint32_t done = 0; done <= 131078; done += 1024) {
            status.Progress(ProgressStage::WritingData, done, 131078);
        }
        status.Progress(ProgressStage::WritingData, 131078, 131078);
        status.AppendStatus("Reading data... ");
    }
    EXPECT_EQ(Contents(lines), "Writing data... \nReading data... \n");
    const std::string shown = Contents(progress);
    int shownLines = 0;
    for (char c : shown) {
        shownLines += c == '\n';
    }
    EXPECT_EQ(shownLines, 11);  // 0 %, every tenth, 100 %
    EXPECT_EQ(shown.find('\r'), std::string::npos);  // no redrawing into a file
    EXPECT_NE(shown.find("Writing data 131078/131078 bytes 100%"), std::string::npos) << shown;
    std::fclose(lines);
    std::fclose(progress);
}

TEST(ConsoleStatusList, QuietShowsNoProgressAndARateNeedsTimeBehindIt) {
    std::FILE* lines = std::tmpfile();
    std::FILE* progress = std::tmpfile();
    {
        ConsoleStatusList status(lines, progress, false);
        status.Progress(ProgressStage::ReadingBack, 10, 100);
    }
    EXPECT_EQ(Contents(progress), "");
    std::fclose(lines);
    std::fclose(progress);

    EXPECT_EQ(ConsoleStatusList::ProgressText(ProgressStage::ReadingBack, 0, 131072, 0.0),
              "Reading back 0/131072 bytes   0%");
    // Half done in 6 s: 10.9 kB/s, another 6 s to go.
    EXPECT_EQ(ConsoleStatusList::ProgressText(ProgressStage::WritingData, 65536, 131072, 6.0),
              "Writing data 65536/131072 bytes  50%  10.9 kB/s  0:06 left");
}

}  // namespace
}  // namespace kestrel::cli
