#include "station/PreparedLot.h"

#include <cerrno>
#include <cstring>

#include "base/FileOpen.h"
#include "session/ExitStatus.h"
#include "session/Limits.h"
#include "station/ApprovedManifest.h"
#include "station/LogFileSink.h"
#include "station/Sha256.h"

namespace kestrel {

namespace {

std::string Absolute(const std::string& path) {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(PathFromUtf8(path), error);
    return error ? path : Utf8FromPath(absolute.lexically_normal());
}

LotRefusal ManifestRefusal(const std::string& path, const ManifestError& error) {
    if (error.error != 0) {
        return {kExitUsage, "cannot read the approved manifest " + path + ": " + FileErrorText(error.error)};
    }
    return {kExitUsage, DescribeManifestError(path, error)};
}

// The log must not be written into what the lot reads: the next round would flash the records.
LotRefusal LogRefusal(const LotSource& source) {
    if (SameFile(source.log, source.firmware)) {
        return {kExitUsage, "the log " + source.log + " is the firmware file itself"};
    }
    if (!source.manifest.empty() && SameFile(source.log, source.manifest)) {
        return {kExitUsage, "the log " + source.log + " is the approved manifest itself"};
    }
    return {};
}

LotRefusal OpenRecords(const LotSource& source, PreparedLot& lot, TraceFields fields) {
    if (source.log.empty()) {
        lot.records = std::make_unique<LotRecords>(nullptr, std::move(fields));
        return {};
    }
    auto sink = std::make_unique<LogFileSink>(source.log, source.trace.lot, source.logWait, source.labels);
    std::string notice;
    if (const int error = sink->Open(notice); error != 0) {
        const int status = error == ECANCELED ? kExitCancelled : error == ETIMEDOUT ? kExitOutput : kExitUsage;
        return {status, "cannot write the log " + source.log + ": " + DescribeRecordError(error)};
    }
    if (!notice.empty()) {
        lot.notices.push_back(notice);
    }
    std::unique_ptr<RecordSink> kept = std::move(sink);
    if (source.outbox) {
        kept = source.outbox(std::move(kept));
    }
    lot.records = std::make_unique<LotRecords>(std::move(kept), std::move(fields));
    return {};
}

void Build(PreparedLot& lot) {
    SessionLogRecorder lines(nullptr);
    SessionOptions reading;
    reading.source = lot.source;
    reading.openFailed = [&lot](const OpenFailure& failure) { lot.openError = failure.error; };
    reading.sourceRefused = [&lot](const ExtractFailure& failure) { lot.refused = failure; };
    lot.built = PrepareGangImage(lot.file, lines, lot.image, reading);
    lot.lines = lines.Lines();
}

}  // namespace

std::string PreparedLot::ChangeNotice() {
    std::error_code error;
    const auto path = PathFromUtf8(file);
    const auto time = std::filesystem::last_write_time(path, error);
    const std::uintmax_t size = error ? 0 : std::filesystem::file_size(path, error);
    const bool same = stampTime && !error && time == *stampTime && size == stampSize;
    if (same || changeNamed || !stampTime) {
        return {};
    }
    changeNamed = true;
    return file + " changed on disk after it was read: every box of this lot gets the firmware as it was read" +
           (fileSha256.empty() ? std::string() : " (sha256 " + fileSha256 + ")");
}

LotRefusal PrepareLot(const LotSource& source, PreparedLot& lot) {
    lot.file = source.firmware;
    if (!source.log.empty()) {
        if (LotRefusal refused = LogRefusal(source)) {
            return refused;
        }
    }
    ApprovedManifest manifest;
    if (!source.manifest.empty()) {
        if (const ManifestError error = ReadApprovedManifest(source.manifest, manifest)) {
            return ManifestRefusal(source.manifest, error);
        }
    }
    std::error_code error;
    const auto path = PathFromUtf8(source.firmware);
    lot.stampTime = std::filesystem::last_write_time(path, error);
    lot.stampSize = error ? 0 : std::filesystem::file_size(path, error);
    if (error) {
        lot.stampTime.reset();
    }
    lot.source = std::make_shared<const SourceBytes>(ReadSourceBytes(source.firmware, kSourceSizeLimit));
    const SourceBytes& read = *lot.source;
    if (read.result == SourceFileRead::Read) {
        lot.fileSha256 = Sha256Hex(read.bytes.data(), read.bytes.size());
    }
    TraceFields fields = source.trace;
    fields.firmwareSha256 = lot.fileSha256;
    if (!source.manifest.empty()) {
        if (read.result == SourceFileRead::CannotOpen) {
            return {kExitFile, source.firmware + ": " + FileErrorText(read.error)};
        }
        if (read.result == SourceFileRead::TooLarge) {
            return {kExitFile, source.firmware + ": more than " + std::to_string(kSourceSizeLimit) +
                                   " bytes, the most a firmware file may have"};
        }
        if (!manifest.Lists(lot.fileSha256)) {
            return {kExitNotApproved, source.firmware + ": sha256 " + lot.fileSha256 +
                                          " is not in the approved manifest " + source.manifest + ": not flashed"};
        }
        fields.manifest = Absolute(source.manifest);
        fields.approvedSha256 = lot.fileSha256;
    }
    Build(lot);
    return OpenRecords(source, lot, std::move(fields));
}

}  // namespace kestrel
