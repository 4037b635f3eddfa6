// The faults a download meets on a real line, each run end to end with
// kestrel-flash against kestrel-box. Every row must end with an "Error: "
// line, a non-zero status of its class, within its bound, and leave the port
// free for the next program. Each row prints one line with its outcome.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "CliSupport.h"

namespace kestrel::testing {
namespace {

// Start-up, the file and the bytes before the fault: generous, a loaded CI machine is slow, yet
// well short of what a missed fault waits for (the 30 s answer bound, the 11 s of paced data).
constexpr double kSlack = 5;
const std::string kSilent = "Error: box not answering";
const std::string kNoPort = "Error: cannot open comport";
const std::string kCancelled = "Error: download cancelled";

enum class Access { Free, Held, Forbidden };

struct Fault {
    std::string row{};
    Lines box{};  // how kestrel-box misbehaves
    int exitStatus = 0;
    std::string lastLine{};
    double boundSeconds = kSlack;  // from the start, the slack included
    // The answer bound: the default, which a hang-up must not wait for, unless the row waits for it.
    std::string timeout = "30";
    int signal = 0;  // sent once stdout shows `signalAfter`
    std::string signalAfter{};
    std::string port{};  // given with -p: the box's link, "device", "file" (a regular one) or this path
    Access access = Access::Free;
    std::string reason{};  // the system's, on stderr after the port's name
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.row; }

// The terminal settings of the device as any program finds them.
std::string TerminalSettings(const std::string& path) { return RunProcess({"/usr/bin/stty", "-g", "-F", path}).out; }

class FaultMatrix : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultMatrix, EndsWithItsErrorLineWithinItsBoundAndFreesThePort) {
    const Fault& f = GetParam();
    BoxProcess box(f.box);
    const std::string port = f.port.empty()       ? box.linkPath
                             : f.port == "device" ? box.device
                             : f.port == "file"   ? box.dir.Write("not-a-terminal", std::string("x"))
                                                  : f.port;
    const std::string before = TerminalSettings(box.linkPath);
    ASSERT_NE(before, "");
    // Past its bound the row has failed: the run is ended there, not left to a broken download's own bounds.
    ProcessOptions options{
        std::chrono::milliseconds(static_cast<int>(f.boundSeconds * 1000)), {}, f.signalAfter, f.signal};
    SerialLink holder;
    bool inTty = false;
    if (f.access == Access::Held) {
        ASSERT_TRUE(holder.Open(box.linkPath, 115200, 0, 2, 8)) << holder.OpenError();
    } else if (f.access == Access::Forbidden) {
        ASSERT_EQ(::chmod(box.device.c_str(), 0), 0);
        // A pty's group is tty, also where devpts is mounted without saying so (where the test may set it).
        inTty = ::chown(box.device.c_str(), static_cast<uid_t>(-1), 5) == 0;
        options.inChild = [] {  // root itself may open anything: it runs as nobody
            if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(126);
        };
    }
    const auto run = Flash({"-q", "--timeout", f.timeout, "-p", port, kMot}, options);
    holder.Close();
    ::chmod(box.device.c_str(), 0620);
    if (run.exitStatus == 126)
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    const bool portFree = PortOpensAgain(box.linkPath, f.box.empty() || f.box[0] != "--hang-up-at" ? 0 : 2000);
    std::printf("fault matrix: %-26s exit %d  %-34s %5.2f s  port %s\n", f.row.c_str(), run.exitStatus,
                ("\"" + run.LastOutLine() + "\"").c_str(), run.seconds, portFree ? "free" : "HELD");
    EXPECT_FALSE(run.timedOut) << "still running after " << f.boundSeconds << " s";
    EXPECT_EQ(run.exitStatus, f.exitStatus) << run.out << run.err;
    EXPECT_EQ(run.LastOutLine(), f.lastLine) << run.out;
    EXPECT_TRUE(portFree);
    if (!f.reason.empty()) {  // why the port would not open
        EXPECT_NE(run.err.find("kestrel-flash: " + port + ": " + f.reason + "\n"), std::string::npos) << run.err;
    }
    if (inTty) {  // and who may
        EXPECT_NE(run.err.find("kestrel-flash: " + port +
                               " belongs to the group tty: add yourself to it with sudo "
                               "usermod -aG tty $USER, then log in again\n"),
                  std::string::npos)
            << run.err;
    }
    if (f.signal != 0) {  // the terminal is left as it was found
        EXPECT_EQ(TerminalSettings(box.linkPath), before);
    }
}

std::vector<Fault> Rows() {
    std::vector<Fault> rows;
    for (const std::string stage : {"sync", "length", "erase", "data", "read-back"}) {
        rows.push_back({"hang-up at " + stage, {"--hang-up-at", stage}, 7, kSilent});
        const bool sync = stage == "sync";  // the synchronisation has its own 20 s
        const std::string last = sync ? "Error: synchronize timeout" : kSilent;
        rows.push_back({"silent at " + stage, {"--silent-at", stage}, 7, last, (sync ? 20 : 0.5) + kSlack, "0.5"});
    }
    for (const auto& [row, port, access, reason] :
         {std::tuple{"held by another program", "", Access::Held, "Device or resource busy"},
          {"no permission", "device", Access::Forbidden, "Permission denied"},
          {"no such device", "/dev/ttyKestrelMissing0", Access::Free, "No such file or directory"},
          {"a regular file", "file", Access::Free, "Inappropriate ioctl for device"}}) {
        rows.push_back(
            {.row = row, .exitStatus = 3, .lastLine = kNoPort, .port = port, .access = access, .reason = reason});
    }
    // Paced at the line rate, the data block takes 11 s: a signal lands in it. SIGHUP: the terminal closed.
    for (const auto& [name, signal] : {std::pair{"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}, {"SIGTERM", SIGTERM}}) {
        rows.push_back({name + std::string(" in the data"), {"--pace"}, 9, kCancelled});
        std::tie(rows.back().signal, rows.back().signalAfter) = std::pair{signal, "Writing data... \n"};
    }
    // In a silent read-back under the default bound, a cancel is seen within one
    // short read attempt, not after a read of a whole piece has timed out.
    rows.push_back({"SIGINT in the read-back", {"--silent-at", "read-back"}, 9, kCancelled});
    std::tie(rows.back().signal, rows.back().signalAfter) = std::pair{SIGINT, "Reading data... \n"};
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(Rows()), [](const auto& row) {
    std::string name = row.param.row;
    std::replace_if(
        name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
    return name;
});

}  // namespace
}  // namespace kestrel::testing
