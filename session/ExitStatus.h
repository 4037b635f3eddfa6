#pragma once

#include <string>

#include "session/DownloadWorkflow.h"

namespace kestrel {

// How a download ended, as a number: kestrel-flash's exit status, and the
// class a session log records. One per class of failure, so that a script
// can tell a missing box from a bad file without reading the lines.
enum ExitStatus : int {
    kExitSuccess = 0,
    kExitStageFailed = 1,  // --dump-image or --check: a stage failed, or --check found problems
    kExitUsage = 2,
    kExitLink = 3,
    kExitFile = 4,
    kExitData = 5,
    kExitBoxRefused = 6,
    kExitBoxSilent = 7,
    kExitVerify = 8,
    kExitCancelled = 9,
    // The download succeeded, but a status line, JSON line or log record could
    // not be written: a script or log no longer shows what happened.
    kExitOutput = 10,
    // The firmware file is not in the manifest of approved firmware: no box was touched.
    kExitNotApproved = 11,
    // The box's label passed in the log already (and --rework was not given): the box was not touched.
    kExitLabelPassed = 12,
};

ExitStatus ExitStatusOf(DownloadOutcome outcome);

// The table for --help, one line per status; `cancelledBy` names what cancels a download here.
std::string ExitStatusHelp(const std::string& cancelledBy);

}  // namespace kestrel
