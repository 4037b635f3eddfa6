#include "cli/DatabaseOutbox.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "session/ExitStatus.h"
#include "session/SourceFile.h"
#include "station/ApprovedManifest.h"
#include "station/LogChain.h"

namespace kestrel::cli {

namespace {

// A send-log pass stores this many records per transaction.
constexpr std::size_t kBatch = 1000;

}  // namespace

int StartOutbox(const StationOptions& station, std::string& log, std::shared_ptr<RecordSender>& sender) {
    if (!RecordDatabaseAvailable()) {
        std::fprintf(stderr, "kestrel-flash: a records database (--db) is not available on this platform\n");
        return kExitUsage;
    }
    log = station.logFile;
    if (log.empty()) {
        std::string error;
        log = DefaultOutboxLog(error);
        if (log.empty()) {
            std::fprintf(stderr, "kestrel-flash: --db: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    std::string refusal, notice;
    sender = StartRecordSender(station.database, log, refusal, notice);
    if (!sender) {
        std::fprintf(stderr, "kestrel-flash: %s\n", refusal.c_str());
        return kExitUsage;
    }
    if (!notice.empty()) {
        std::fprintf(stderr, "kestrel-flash: %s\n", notice.c_str());
    }
    return kExitSuccess;
}

void EndOutbox(const std::shared_ptr<RecordSender>& sender, const std::string& log) {
    if (!sender || sender->Drain(RecordSender::kDrainMs)) {
        return;
    }
    const DatabaseLink link = sender->Link();
    std::fprintf(stderr,
                 "kestrel-flash: %s; they stay in the log %s and go with the next record sent, or with "
                 "--send-log\n",
                 DescribeDatabaseLink(link).c_str(), log.c_str());
}

int SendLogCommand(const StationOptions& station) {
    if (!RecordDatabaseAvailable()) {
        std::fprintf(stderr, "kestrel-flash: a records database (--db) is not available on this platform\n");
        return kExitUsage;
    }
    std::string text;
    if (const int error = ReadWholeFile(station.sendLog, text); error != 0) {
        std::fprintf(stderr, "kestrel-flash: cannot read the log %s: %s\n", station.sendLog.c_str(),
                     FileErrorText(error).c_str());
        return kExitFile;
    }
    auto database = OpenRecordDatabase(station.database);
    if (const DatabaseResult connected = database->Connect(); !connected) {
        std::fprintf(stderr, "kestrel-flash: the database %s: %s\n",
                     connected.state == DatabaseState::Refused ? "refused the station" : "cannot be reached",
                     connected.message.c_str());
        return connected.state == DatabaseState::Refused ? kExitUsage : kExitOutput;
    }
    std::vector<LogRecordText> records;
    std::size_t changed = 0;
    for (auto& record : SplitLog(text)) {
        // A changed record under its old hash would pass for the one written.
        if (RecordHashHolds(record.text)) {
            records.push_back(std::move(record));
        } else if (record.Has("sha256")) {
            ++changed;
        }
    }
    if (changed > 0) {
        std::fprintf(stderr, "kestrel-flash: %zu records of %s passed over: their text is not what their hash says\n",
                     changed, station.sendLog.c_str());
    }
    std::size_t stored = 0;
    for (std::size_t from = 0; from < records.size(); from += kBatch) {
        const std::vector<LogRecordText> batch(
            records.begin() + static_cast<std::ptrdiff_t>(from),
            records.begin() + static_cast<std::ptrdiff_t>(std::min(records.size(), from + kBatch)));
        std::size_t added = 0;
        if (const DatabaseResult result = database->Store(batch, added); !result) {
            std::fprintf(stderr, "kestrel-flash: stored %zu of %zu records, then the database failed: %s\n", stored,
                         records.size(), result.message.c_str());
            return kExitOutput;
        }
        stored += added;
    }
    std::printf("sent: %zu records stored, %zu already there\n", stored, records.size() - stored);
    return changed == 0 ? kExitSuccess : kExitStageFailed;
}

}  // namespace kestrel::cli
