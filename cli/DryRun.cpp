#include "cli/DryRun.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/ImageFile.h"
#include "cli/SourceHints.h"
#include "readers/SRecordCheck.h"
#include "session/DataConverter.h"
#include "session/ExitStatus.h"
#include "session/PrepareImage.h"
#include "session/PrintingStatusList.h"
#include "session/SourceFile.h"
#include "session/SourceKind.h"
#include "station/UnitField.h"

namespace kestrel::cli {

namespace {

// The S-record check of --check, on stderr; true when it found nothing.
bool ReportCheck(const DryRun& options, const DataConverter& session) {
    if (!options.check || SourceKindOf(options.file) != kSourceKindMot) {
        return true;
    }
    const auto findings = CheckSRecords(session.SourceBuffer.data(), session.sourceLength);
    for (const auto& finding : findings) {
        std::fprintf(stderr, "%s:%u: %s\n", options.file.c_str(), finding.line, finding.text.c_str());
    }
    return findings.empty();
}

// Whether the box's own field lies over bytes the file sets; true when it lies over none.
bool ReportField(const DryRun& options, const DataConverter& session) {
    if (!options.check || !options.fieldAt) {
        return true;
    }
    std::string why;
    const std::uint32_t from = *options.fieldAt;
    const std::uint64_t to = std::uint64_t{from} + options.fieldLength;  // one past its end
    if (!FieldOffset(from, options.fieldLength, session.sourceKind, session.outputLength, why)) {
        std::fprintf(stderr, "%s: %s\n", options.file.c_str(), why.c_str());
        return false;
    }
    // A binary image sets every byte it has; S-records only the bytes their records name.
    bool over = session.sourceKind != kSourceKindMot;
    for (std::size_t i = 0; i < session.records.size() && !over; ++i) {
        const auto& record = session.records.at(i);
        over = record.address < to && record.address + record.length > from;
    }
    std::fprintf(stderr, "%s: the field at 0x%X (%zu bytes) lies over %s\n", options.file.c_str(), from,
                 options.fieldLength, over ? "bytes the file sets" : "no byte the file sets");
    return !over;
}

}  // namespace

int DryRunCommand(const DryRun& options) {
    PrintingStatusList status(stdout);
    int openError = 0;
    SessionOptions noLink;
    noLink.openFailed = [&openError](const OpenFailure& failure) { openError = failure.error; };
    if (!options.check) {
        noLink.sourceRefused = RecordTypeHint(options.file, stderr);  // --check says it in its findings
    }
    auto session = std::make_unique<DataConverter>(status, noLink);
    if (PrepareImage(*session, options.file, status) != DownloadOutcome::Success) {
        if (openError != 0) {
            std::fprintf(stderr, "kestrel-flash: %s: %s\n", options.file.c_str(), FileErrorText(openError).c_str());
        } else if (session->sourceSizeLimit != 0) {
            PrintSizeLimit(options.file, session->sourceSizeLimit, stderr);
        } else {
            ReportCheck(options, *session);
        }
        return kExitStageFailed;
    }
    const bool checked = ReportCheck(options, *session);
    if (!ReportField(options, *session) || !checked) {
        return kExitStageFailed;
    }
    if (!options.dumpImage.empty()) {
        const std::string error =
            WriteFileWhole(options.dumpImage, session->OutputBuffer.data(), session->outputLength);
        if (!error.empty()) {
            std::fprintf(stderr, "kestrel-flash: cannot write %s: %s\n", options.dumpImage.c_str(), error.c_str());
            return kExitStageFailed;
        }
    }
    return kExitSuccess;
}

}  // namespace kestrel::cli
