// The faults a download meets on a real line (FaultRows.h), each run end to
// end with kestrel-flash against kestrel-box. Every row must end with an "Error: "
// line, a non-zero status of its class, within its bound, and leave the port
// free for the next program. Each row prints one line with its outcome.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "CliSupport.h"
#include "FaultRows.h"

namespace kestrel::testing {
namespace {

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
    // Why the port would not open, and who may (the hint's words are OpenFailureHintTest's).
    EXPECT_TRUE(f.reason.empty() ||
                run.err.find("kestrel-flash: " + port + ": " + f.reason + "\n") != std::string::npos)
        << run.err;
    EXPECT_TRUE(!inTty || run.err.find("kestrel-flash: " + port + " belongs to the group tty: ") != std::string::npos)
        << run.err;
    // The terminal is left as it was found.
    EXPECT_TRUE(f.signal == 0 || TerminalSettings(box.linkPath) == before) << before;
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(FaultRows()), FaultRowName);

}  // namespace
}  // namespace kestrel::testing
