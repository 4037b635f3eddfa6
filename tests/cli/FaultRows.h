#pragma once

// The faults a download meets on a real line, one table for both ends that run
// it against kestrel-box: kestrel-flash on Linux (CliFaultMatrixTest.cpp) and
// kestrel-flash.exe under Wine (tests/windows/WineFlashTest.cpp). A row Wine
// cannot show says why; its Wine test is then skipped with that reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <tuple>

#include "support/Text.h"

namespace kestrel::testing {

// Start-up, the file and the bytes before the fault: generous, a loaded CI machine is slow.
constexpr double kSlack = 5;
inline const std::string kSilent = "Error: box not answering";
inline const std::string kNoPort = "Error: cannot open comport";
inline const std::string kCancelled = "Error: download cancelled";

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
    std::string reason{};      // the system's, on stderr after the port's name
    std::string wineCannot{};  // why Wine cannot show the row; empty when it can
};

inline void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.row; }

inline std::vector<Fault> FaultRows() {
    std::vector<Fault> rows;
    for (const std::string stage : {"sync", "length", "erase", "data", "read-back"}) {
        rows.push_back({"hang-up at " + stage, {"--hang-up-at", stage}, 7, kSilent});
        rows.back().wineCannot = "Wine reads a hung-up line as silence: the silent rows show that";
        const bool sync = stage == "sync";  // the synchronisation has its own 20 s
        const std::string last = sync ? "Error: synchronize timeout" : kSilent;
        rows.push_back({"silent at " + stage, {"--silent-at", stage}, 7, last, (sync ? 20 : 0.5) + kSlack, "0.5"});
    }
    for (const auto& [row, port, access, reason, wineCannot] :
         {std::tuple{"held by another program", "", Access::Held, "Device or resource busy",
                     "Wine grants a second open of a COM port"},
          {"no permission", "device", Access::Forbidden, "Permission denied",
           "Wine runs only as the owner of its prefix"},
          {"no such device", "/dev/ttyKestrelMissing0", Access::Free, "No such file or directory", ""},
          {"a regular file", "file", Access::Free, "Inappropriate ioctl for device", ""}}) {
        rows.push_back(
            {.row = row, .exitStatus = 3, .lastLine = kNoPort, .port = port, .access = access, .reason = reason});
        rows.back().wineCannot = wineCannot;
    }
    // Paced at the line rate, the data block takes 11 s: a signal lands in it. SIGHUP: the terminal closed.
    for (const auto& [name, signal] : {std::pair{"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}, {"SIGTERM", SIGTERM}}) {
        rows.push_back({name + std::string(" in the data"), {"--pace"}, 9, kCancelled});
        std::tie(rows.back().signal, rows.back().signalAfter) = std::pair{signal, "Writing data... \n"};
        if (signal != SIGINT)
            rows.back().wineCannot = "Wine turns only SIGINT into a console event (Ctrl-C)";
    }
    // In a silent read-back under the default bound, a cancel is seen within one
    // short read attempt, not after a read of a whole piece has timed out.
    rows.push_back({"SIGINT in the read-back", {"--silent-at", "read-back"}, 9, kCancelled});
    std::tie(rows.back().signal, rows.back().signalAfter) = std::pair{SIGINT, "Reading data... \n"};
    return rows;
}

inline std::string FaultRowName(const ::testing::TestParamInfo<Fault>& info) {
    std::string name = info.param.row;
    std::ranges::replace_if(
        name, [](unsigned char c) { return !std::isalnum(c); }, '_');
    return name;
}

}  // namespace kestrel::testing
