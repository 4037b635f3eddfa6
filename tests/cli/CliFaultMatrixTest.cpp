// The faults a download meets on a real line, each run end to end with
// kestrel-flash against kestrel-box. Every row must end with an "Error: "
// line, a non-zero status of its class, within its bound, and leave the port
// free for the next program. Each row prints one line with its outcome.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "CliSupport.h"

namespace kestrel::testing {
namespace {

// Start-up, the file and the bytes before the fault: generous, a loaded CI machine is slow.
constexpr double kSlack = 5;
const std::string kSilent = "Error: box not answering";
const std::string kNoPort = "Error: cannot open comport";
const std::string kCancelled = "Error: download cancelled";

enum class Port { Link, Device, Missing, DevNull, RegularFile };
enum class Access { Free, Held, Forbidden };

struct Fault {
    std::string row{};
    Lines box{};  // how kestrel-box misbehaves
    int exitStatus = 0;
    std::string lastLine{};
    double boundSeconds = 0;  // from the start, the slack included
    // The answer bound: the default, which a hang-up must not wait for, unless the row waits for it.
    std::string timeout = "30";
    Port port = Port::Link;  // given with -p
    Access access = Access::Free;
    int signal = 0;  // sent once stdout shows `signalAfter`
    std::string signalAfter{};
    std::string reason{};  // the system's, on stderr after the port's name
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.row; }

class FaultMatrix : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultMatrix, EndsWithItsErrorLineWithinItsBoundAndFreesThePort) {
    const Fault& f = GetParam();
    BoxProcess box(f.box);
    ASSERT_FALSE(box.device.empty());
    const std::string port = f.port == Port::Link      ? box.linkPath
                             : f.port == Port::Device  ? box.device
                             : f.port == Port::Missing ? "/dev/ttyKestrelMissing0"
                             : f.port == Port::DevNull ? "/dev/null"
                                                       : box.dir.Write("not-a-terminal", std::string("x"));
    const auto before = TerminalSettings(box.linkPath);
    ASSERT_TRUE(before.has_value());
    ProcessOptions options{
        .deadline = std::chrono::seconds(60), .runAs = {}, .signalAfter = f.signalAfter, .signalToSend = f.signal};
    SerialLink holder;
    const bool chmodded = f.access == Access::Forbidden && ::geteuid() != 0;
    if (f.access == Access::Held) {
        ASSERT_TRUE(holder.Open(box.linkPath, 115200, 0, 2, 8)) << holder.OpenError();
    } else if (f.access == Access::Forbidden && !chmodded) {
        options.runAs = 65534;  // nobody: root itself may open anything
    } else if (chmodded) {
        ASSERT_EQ(::chmod(box.device.c_str(), 0), 0);
    }
    const auto run = Flash({"-q", "--timeout", f.timeout, "-p", port, kMot}, options);
    holder.Close();
    if (chmodded)
        ::chmod(box.device.c_str(), 0620);
    if (run.exitStatus == 126) {
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    }
    // After a hang-up the box makes a new line, which takes it a moment.
    const bool portFree = PortOpensAgain(box.linkPath, f.box.empty() || f.box[0] != "--hang-up-at" ? 0 : 2000);
    std::printf("fault matrix: %-26s exit %d  %-34s %5.2f s  port %s\n", f.row.c_str(), run.exitStatus,
                ("\"" + run.LastOutLine() + "\"").c_str(), run.seconds, portFree ? "free" : "HELD");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, f.exitStatus) << run.out << run.err;
    EXPECT_EQ(run.LastOutLine(), f.lastLine) << run.out;
    EXPECT_LT(run.seconds, f.boundSeconds);
    EXPECT_TRUE(portFree);
    if (f.lastLine == kNoPort) {
        EXPECT_EQ(run.OutLines(), (Lines{"Opening interface... ", kNoPort}));
        EXPECT_NE(run.err.find("kestrel-flash: " + port + ": " + f.reason + "\n"), std::string::npos) << run.err;
    }
    if (f.signal != 0) {  // the terminal is left as it was found
        const auto after = TerminalSettings(box.linkPath);
        ASSERT_TRUE(after.has_value());
        EXPECT_EQ(before->c_cflag, after->c_cflag);
        EXPECT_EQ(before->c_lflag, after->c_lflag);
        EXPECT_EQ(before->c_iflag, after->c_iflag);
        EXPECT_EQ(cfgetospeed(&*before), cfgetospeed(&*after));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FaultMatrix,
    ::testing::Values(
        Fault{"hang-up at sync", {"--hang-up-at", "sync"}, 7, kSilent, kSlack},
        Fault{"hang-up at length", {"--hang-up-at", "length"}, 7, kSilent, kSlack},
        Fault{"hang-up at erase", {"--hang-up-at", "erase"}, 7, kSilent, kSlack},
        Fault{"hang-up in the data", {"--hang-up-at", "data"}, 7, kSilent, kSlack},
        Fault{"hang-up at read-back", {"--hang-up-at", "read-back"}, 7, kSilent, kSlack},
        Fault{"silent at sync", {"--silent-at", "sync"}, 7, "Error: synchronize timeout", 20 + kSlack, "0.5"},
        Fault{"silent at length", {"--silent-at", "length"}, 7, kSilent, 0.5 + kSlack, "0.5"},
        Fault{"silent at erase", {"--silent-at", "erase"}, 7, kSilent, 0.5 + kSlack, "0.5"},
        Fault{"silent at data", {"--silent-at", "data"}, 7, kSilent, 0.5 + kSlack, "0.5"},
        Fault{"silent at read-back", {"--silent-at", "read-back"}, 7, kSilent, 0.5 + kSlack, "0.5"},
        Fault{.row = "held by another program",
              .exitStatus = 3,
              .lastLine = kNoPort,
              .boundSeconds = kSlack,
              .access = Access::Held,
              .reason = "Device or resource busy"},
        Fault{.row = "no permission",
              .exitStatus = 3,
              .lastLine = kNoPort,
              .boundSeconds = kSlack,
              .port = Port::Device,
              .access = Access::Forbidden,
              .reason = "Permission denied"},
        Fault{.row = "no such device",
              .exitStatus = 3,
              .lastLine = kNoPort,
              .boundSeconds = kSlack,
              .port = Port::Missing,
              .reason = "No such file or directory"},
        Fault{.row = "/dev/null",
              .exitStatus = 3,
              .lastLine = kNoPort,
              .boundSeconds = kSlack,
              .port = Port::DevNull,
              .reason = "Inappropriate ioctl for device"},
        Fault{.row = "a regular file",
              .exitStatus = 3,
              .lastLine = kNoPort,
              .boundSeconds = kSlack,
              .port = Port::RegularFile,
              .reason = "Inappropriate ioctl for device"},
        // Paced at the line rate, the data block takes 11 s: a signal lands in it.
        Fault{.row = "SIGINT in the data",
              .box = {"--pace"},
              .exitStatus = 9,
              .lastLine = kCancelled,
              .boundSeconds = kSlack,
              .signal = SIGINT,
              .signalAfter = "Writing data... \n"},
        Fault{.row = "SIGHUP in the data",  // the terminal or the ssh session closed
              .box = {"--pace"},
              .exitStatus = 9,
              .lastLine = kCancelled,
              .boundSeconds = kSlack,
              .signal = SIGHUP,
              .signalAfter = "Writing data... \n"},
        Fault{.row = "SIGTERM in the data",
              .box = {"--pace"},
              .exitStatus = 9,
              .lastLine = kCancelled,
              .boundSeconds = kSlack,
              .signal = SIGTERM,
              .signalAfter = "Writing data... \n"},
        // In a silent read-back under the default bound, a cancel is seen within one
        // short read attempt, not after a read of a whole piece has timed out.
        Fault{.row = "SIGINT in the read-back",
              .box = {"--silent-at", "read-back"},
              .exitStatus = 9,
              .lastLine = kCancelled,
              .boundSeconds = 2,
              .signal = SIGINT,
              .signalAfter = "Reading data... \n"}),
    [](const ::testing::TestParamInfo<Fault>& row) {
        std::string name = row.param.row;
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        }
        return name;
    });

}  // namespace
}  // namespace kestrel::testing
