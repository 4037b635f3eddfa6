// The faults a download meets on a real line, each run end to end with
// kestrel-flash against kestrel-box. Every row must end with an "Error: "
// line, a non-zero status of its class, within its bound, and leave the port
// free for the next program. Each row prints one line with its outcome.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>

#include "BoxProcess.h"
#include "CliPaths.h"

namespace kestrel::testing {
namespace {

const std::string kMot = std::string(KESTREL_SAMPLES_DIR) + "/kestrel-demo.mot";
constexpr double kTimeoutSeconds = 0.5;
constexpr double kSyncBoundSeconds = 20;
// Start-up, the file and the bytes before the fault: generous, a loaded CI machine is slow.
constexpr double kSlackSeconds = 5;

void PrintRow(const std::string& row, const ProcessResult& run, bool portFree) {
    std::printf("fault matrix: %-26s exit %d  %-34s %5.2f s  port %s\n", row.c_str(), run.exitStatus,
                ("\"" + run.LastOutLine() + "\"").c_str(), run.seconds, portFree ? "free" : "HELD");
}

struct BoxFault {
    std::string row;
    std::vector<std::string> boxOptions;
    int exitStatus;
    std::string lastLine;
    double boundSeconds;
};

class BoxFaults : public ::testing::TestWithParam<BoxFault> {};

TEST_P(BoxFaults, EndWithTheirLineWithinTheirBoundAndFreeThePort) {
    const BoxFault& fault = GetParam();
    BoxProcess box(fault.boxOptions);
    ASSERT_FALSE(box.process.FirstLine().empty());
    // A hang-up must end the download at once, not by the answer bound: those
    // rows run with the default 30 s bound, which they must not wait for.
    const bool hangUp = fault.boxOptions.front() == "--hang-up-at";
    const double timeout = hangUp ? 30 : kTimeoutSeconds;
    const auto run = RunProcess({kFlash, "-q", "--timeout", std::to_string(timeout), "-p", box.linkPath, kMot},
                                {.deadline = std::chrono::seconds(60)});
    const bool portFree = PortOpensAgain(box.linkPath, hangUp ? 2000 : 0);
    PrintRow(fault.row, run, portFree);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, fault.exitStatus) << run.out;
    EXPECT_EQ(run.LastOutLine(), fault.lastLine) << run.out;
    EXPECT_LT(run.seconds, fault.boundSeconds + kSlackSeconds);
    EXPECT_TRUE(portFree);
}

const double kAnswerBound = kTimeoutSeconds;
const double kAtOnce = 0;

INSTANTIATE_TEST_SUITE_P(
    Rows, BoxFaults,
    ::testing::Values(
        BoxFault{"hang-up at sync", {"--hang-up-at", "sync"}, 7, "Error: box not answering", kAtOnce},
        BoxFault{"hang-up at length", {"--hang-up-at", "length"}, 7, "Error: box not answering", kAtOnce},
        BoxFault{"hang-up at erase", {"--hang-up-at", "erase"}, 7, "Error: box not answering", kAtOnce},
        BoxFault{"hang-up in the data", {"--hang-up-at", "data"}, 7, "Error: box not answering", kAtOnce},
        BoxFault{"hang-up at read-back", {"--hang-up-at", "read-back"}, 7, "Error: box not answering", kAtOnce},
        BoxFault{"silent at sync", {"--silent-at", "sync"}, 7, "Error: synchronize timeout", kSyncBoundSeconds},
        BoxFault{"silent at length", {"--silent-at", "length"}, 7, "Error: box not answering", kAnswerBound},
        BoxFault{"silent at erase", {"--silent-at", "erase"}, 7, "Error: box not answering", kAnswerBound},
        BoxFault{"silent at data", {"--silent-at", "data"}, 7, "Error: box not answering", kAnswerBound},
        BoxFault{"silent at read-back", {"--silent-at", "read-back"}, 7, "Error: box not answering", kAnswerBound}),
    [](const ::testing::TestParamInfo<BoxFault>& row) {
        std::string name = row.param.row;
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        }
        return name;
    });

TEST(PortFaults, ADeviceThatCannotServeEndsAtTheOpen) {
    TempDir dir;
    const std::string regularFile = dir.Write("not-a-terminal", std::string("x"));
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"no such device", "/dev/ttyKestrelMissing0"},
        {"/dev/null", "/dev/null"},
        {"a regular file", regularFile},
    };
    for (const auto& [row, path] : rows) {
        const auto run = RunProcess({kFlash, "-q", "-p", path, kMot});
        PrintRow(row, run, true);
        EXPECT_EQ(run.exitStatus, 3) << row;
        EXPECT_EQ(run.OutLines(), (std::vector<std::string>{"Opening interface... ", "Error: cannot open comport"}))
            << row;
    }
}

TEST(PortFaults, ADeviceThisUserMayNotOpenEndsAtTheOpen) {
    BoxProcess box;
    const std::string device = box.process.FirstLine();
    ProcessOptions options;
    if (::geteuid() == 0) {
        options.runAs = 65534;  // nobody: root itself may open anything
    } else {
        ASSERT_EQ(::chmod(device.c_str(), 0), 0);
    }
    const auto run = RunProcess({kFlash, "-q", "-p", device, kMot}, options);
    if (run.exitStatus == 126) {
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    }
    PrintRow("no permission", run, true);
    EXPECT_EQ(run.exitStatus, 3) << run.err;
    EXPECT_EQ(run.LastOutLine(), "Error: cannot open comport");
    if (::geteuid() != 0) {
        ::chmod(device.c_str(), 0620);
    }
    EXPECT_TRUE(PortOpensAgain(box.linkPath));
}

class Interrupts : public ::testing::TestWithParam<int> {};

// Paced at the line rate, the data block takes seconds: the signal lands in it.
TEST_P(Interrupts, DuringTheDataBlockCancelRestoreTheTerminalAndFreeThePort) {
    BoxProcess box({"--pace"});
    const auto before = TerminalSettings(box.linkPath);
    ASSERT_TRUE(before.has_value());
    const auto run = RunProcess({kFlash, "-q", "-p", box.linkPath, kMot},
                                {.deadline = std::chrono::seconds(30),
                                 .runAs = std::nullopt,
                                 .signalAfter = "Writing data... \n",
                                 .signalToSend = GetParam()});
    const auto after = TerminalSettings(box.linkPath);
    const bool portFree = PortOpensAgain(box.linkPath);
    PrintRow(GetParam() == SIGINT ? "SIGINT in the data" : "SIGTERM in the data", run, portFree);
    EXPECT_EQ(run.exitStatus, 9);
    EXPECT_EQ(run.LastOutLine(), "Error: download cancelled");
    EXPECT_LT(run.seconds, 5.0);  // far below the 11 s the paced data block takes
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(before->c_cflag, after->c_cflag);
    EXPECT_EQ(before->c_lflag, after->c_lflag);
    EXPECT_EQ(before->c_iflag, after->c_iflag);
    EXPECT_EQ(cfgetospeed(&*before), cfgetospeed(&*after));
    EXPECT_TRUE(portFree);
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupts, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& row) { return std::string(row.param == SIGINT ? "SIGINT" : "SIGTERM"); });

// A silent read-back under the default 30 s bound: the cancel is seen within
// one short read attempt, not after a read of a whole piece has timed out.
TEST(Interrupts, DuringASilentReadBackEndTheDownloadAtOnce) {
    BoxProcess box({"--silent-at", "read-back"});
    const auto run = RunProcess({kFlash, "-q", "-p", box.linkPath, kMot},
                                {.deadline = std::chrono::seconds(30),
                                 .runAs = std::nullopt,
                                 .signalAfter = "Reading data... \n",
                                 .signalToSend = SIGINT});
    PrintRow("SIGINT in the read-back", run, PortOpensAgain(box.linkPath));
    EXPECT_EQ(run.exitStatus, 9);
    EXPECT_EQ(run.LastOutLine(), "Error: download cancelled");
    EXPECT_LT(run.seconds, 2.0);
}

}  // namespace
}  // namespace kestrel::testing
