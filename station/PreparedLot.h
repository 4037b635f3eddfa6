#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "readers/ExtractData.h"
#include "session/DownloadOutcome.h"
#include "session/SourceFile.h"
#include "station/GangDownload.h"
#include "station/LotRecords.h"
#include "station/SessionLog.h"

namespace kestrel {

// What a lot is made of, as a front end was told.
struct LotSource {
    std::string firmware{};
    std::string manifest{};  // the approved firmware; empty: any
    std::string log{};       // empty: no records kept
    TraceFields trace{};     // operator, station and lot
    LockWait logWait{};      // how long to wait for another process's lock on the log
    bool labels = false;     // boxes come with labels: the log's passed labels are kept
    // Given the log's sink, the sink the lot writes to (one that also sends the records on); unset: the log's.
    std::function<std::unique_ptr<RecordSink>(std::unique_ptr<RecordSink>)> outbox{};
};

// A lot ready to flash: the firmware file read once, those bytes hashed and
// approved, the image built from them, and the lot's records opened. What is
// approved, built, flashed and recorded is this one read, whatever becomes of
// the file on disk.
struct PreparedLot {
    std::string file;                           // as given
    std::shared_ptr<const SourceBytes> source;  // the one read, for a session that builds the image itself
    std::string fileSha256;                     // of the bytes read; empty when the file could not be read
    DownloadOutcome built = DownloadOutcome::FileFailed;
    GangImage image;                        // when built is Success
    std::vector<TimedLine> lines;           // the preparation's status lines
    int openError = 0;                      // the errno when the file did not open
    std::optional<ExtractFailure> refused;  // why the reader refused the file
    std::unique_ptr<LotRecords> records;
    std::vector<std::string> notices;  // for the user before the first box (a log that starts a new chain)

    // The first time the file on disk is seen to differ from what was read,
    // the sentence that says so; empty otherwise (and ever after).
    std::string ChangeNotice();

    std::optional<std::filesystem::file_time_type> stampTime{};
    std::uintmax_t stampSize = 0;
    bool changeNamed = false;
};

// A lot that may not begin: the exit status and why (no program name), before any box is touched.
struct LotRefusal {
    int status = 0;
    std::string message;
    explicit operator bool() const { return status != 0; }
};

// Prepares `lot` from `source`. Refused: a log that names the firmware or the
// manifest, or cannot be written; a manifest that cannot be read or lists no
// firmware; with a manifest, a file that cannot be read or is not listed. A
// file that cannot be read or built without a manifest is no refusal: each
// download reports it in its own stages, from this same read.
LotRefusal PrepareLot(const LotSource& source, PreparedLot& lot);

}  // namespace kestrel
