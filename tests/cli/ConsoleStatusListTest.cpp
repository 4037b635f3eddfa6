#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/ConsoleStatusList.h"

namespace kestrel::cli {
namespace {

// What a list wrote into its two files (not terminals), lines and progress, with `verbose` set or not.
template <typename Feed>
std::pair<std::string, std::string> Written(bool verbose, Feed feed) {
    char texts[2][4096] = {};
    std::FILE* files[2] = {::fmemopen(texts[0], sizeof texts[0], "w"), ::fmemopen(texts[1], sizeof texts[1], "w")};
    feed(*std::make_unique<ConsoleStatusList>(files[0], files[1], verbose));
    std::fclose(files[0]);
    std::fclose(files[1]);
    return {texts[0], texts[1]};
}

TEST(ConsoleStatusList, LinesGoOutExactlyAndProgressIntoAFileOnlyAtEachTenthAndNotWhenQuiet) {
    const auto [lines, shown] = Written(true, [](ConsoleStatusList& status) {
        status.AppendStatus("Writing data... ");
        for (std::uint32_t done = 0; done <= 131078; done += 1024)
            status.Progress(ProgressStage::WritingData, done, 131078);
        status.Progress(ProgressStage::WritingData, 131078, 131078);
        status.AppendStatus("Reading data... ");
    });
    EXPECT_EQ(lines, "Writing data... \nReading data... \n");
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 11);  // 0 %, every tenth, 100 %
    EXPECT_EQ(shown.find('\r'), std::string::npos);               // no redrawing into a file
    EXPECT_NE(shown.find("Writing data 131078/131078 bytes 100%"), std::string::npos) << shown;
    EXPECT_EQ(Written(false, [](ConsoleStatusList& s) { s.Progress(ProgressStage::ReadingBack, 10, 100); }).second, "");
}

TEST(ConsoleStatusList, ARateNeedsTimeBehindIt) {
    EXPECT_EQ(ConsoleStatusList::ProgressText(ProgressStage::ReadingBack, 1024, 131072, 0.01),
              "Reading back 1024/131072 bytes   0%");
    // Half done in 6 s: 10.9 kB/s, another 6 s to go.
    EXPECT_EQ(ConsoleStatusList::ProgressText(ProgressStage::WritingData, 65536, 131072, 6.0),
              "Writing data 65536/131072 bytes  50%  10.9 kB/s  0:06 left");
}

}  // namespace
}  // namespace kestrel::cli
