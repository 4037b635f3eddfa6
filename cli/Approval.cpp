#include "cli/Approval.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/FileOpen.h"
#include "session/ExitStatus.h"
#include "session/SourceFile.h"
#include "station/ApprovedManifest.h"

namespace kestrel::cli {

int CheckApproval(const StationOptions& station, const std::string& file, TraceFields& trace) {
    if (station.approved.empty()) {
        return kExitSuccess;
    }
    const char* manifestPath = station.approved.c_str();
    ApprovedManifest manifest;
    if (const ManifestError error = ReadApprovedManifest(station.approved, manifest)) {
        if (error.error != 0) {
            std::fprintf(stderr, "kestrel-flash: cannot read the approved manifest %s: %s\n", manifestPath,
                         FileErrorText(error.error).c_str());
        } else if (error.badLine != 0) {
            std::fprintf(stderr,
                         "kestrel-flash: %s:%zu: not a line of a SHA-256 manifest (64 hex digits, two blanks or a "
                         "blank and '*', the file's name)\n",
                         manifestPath, error.badLine);
        } else {
            std::fprintf(stderr, "kestrel-flash: the approved manifest %s lists no firmware\n", manifestPath);
        }
        return kExitUsage;
    }
    std::string digest;
    if (const int error = FileSha256(file, digest); error != 0) {
        std::fprintf(stderr, "kestrel-flash: %s: %s\n", file.c_str(), FileErrorText(error).c_str());
        return kExitFile;
    }
    if (!manifest.Lists(digest)) {
        std::fprintf(stderr, "kestrel-flash: %s: sha256 %s is not in the approved manifest %s: not flashed\n",
                     file.c_str(), digest.c_str(), manifestPath);
        return kExitNotApproved;
    }
    std::error_code ignored;
    const auto absolute = std::filesystem::absolute(PathFromUtf8(station.approved), ignored);
    trace.manifest = ignored ? station.approved : Utf8FromPath(absolute.lexically_normal());
    trace.approvedSha256 = digest;
    return kExitSuccess;
}

}  // namespace kestrel::cli
