#include "session/ExitStatus.h"

namespace kestrel {

ExitStatus ExitStatusOf(DownloadOutcome outcome) {
    switch (outcome) {
        case DownloadOutcome::Success:
            return kExitSuccess;
        case DownloadOutcome::LinkFailed:
            return kExitLink;
        case DownloadOutcome::FileFailed:
            return kExitFile;
        case DownloadOutcome::DataFailed:
            return kExitData;
        case DownloadOutcome::BoxRefused:
            return kExitBoxRefused;
        case DownloadOutcome::BoxSilent:
            return kExitBoxSilent;
        case DownloadOutcome::VerifyFailed:
            return kExitVerify;
        case DownloadOutcome::Cancelled:
            return kExitCancelled;
    }
    return kExitData;
}

std::string ExitStatusHelp(const std::string& cancelledBy) {
    return std::string("Exit status:\n") +
           "  0  the box was flashed (\"FLASHING SUCCESSFULL\")\n"
           "  1  --dump-image or --check: a stage failed, or --check found problems; --verify-log: a record does not "
           "chain\n"
           "  2  usage error\n"
           "  3  link: unknown interface, or the port or USB device cannot be opened\n"
           "  4  file: cannot be opened, too large or too short, or of an unknown kind\n"
           "  5  data: a record the tool refuses, an address outside the window, out of memory\n"
           "  6  box refused: another firmware type, or 'E' at a stage\n"
           "  7  box not answering: silent past the time-out, or gone\n"
           "  8  verify: the read-back differs from the image\n"
           "  9  cancelled (" +
           cancelledBy + ")\n" +
           " 10  output: the download succeeded, but a status line, JSON line or log record could not be written\n"
           " 11  not approved: the file's SHA-256 is not in the --approved manifest; no box was touched\n"
           " 12  the box's label passed already (without --rework); the box was not touched\n";
}

}  // namespace kestrel
