#include "station/RecordSender.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/FileOpen.h"
#include "station/LogChain.h"
#include "station/SessionLogFile.h"

namespace kestrel {

namespace {

// A pass stores the log in pieces of about this size, each in one transaction.
constexpr std::size_t kPieceBytes = 4u << 20;
// Waiting for nothing but a record to send: long, and ended at once by one.
constexpr std::uint32_t kIdleMs = 3600000;
// How long an ending program waits for a pass that is still connecting.
constexpr std::uint32_t kEndMs = 1000;

// Up to `bytes` of the log from `offset`; empty when there is nothing more, or nothing to read.
std::string ReadPiece(const std::string& path, std::uint64_t offset, std::size_t bytes) {
    const UniqueFile file(OpenFile(path, "rb"));
    if (!file || std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0) {
        return {};
    }
    std::string piece(bytes, '\0');
    piece.resize(std::fread(piece.data(), 1, bytes, file.get()));
    return piece;
}

// The whole records at the start of `piece` (a record another process is still writing is not yet one),
// and how many bytes they take.
std::vector<LogRecordText> WholeRecords(const std::string& piece, std::uint64_t& bytes) {
    std::vector<LogRecordText> records;
    bytes = 0;
    for (auto& record : SplitLog(piece)) {
        if (!record.text.ends_with("\n\n")) {
            break;
        }
        bytes += record.text.size();
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace

struct RecordSender::Shared {
    Shared(std::string logPath, std::unique_ptr<RecordDatabase> db, Clock& c)
        : log(std::move(logPath)), database(std::move(db)), clock(c) {}

    // Stores what the log holds past `offset`; false when the database could not take it.
    bool Pass() {
        DatabaseResult result = database->Connect();
        for (std::uint64_t consumed = 1; result && consumed > 0;) {
            const auto records = WholeRecords(ReadPiece(log, offset, kPieceBytes), consumed);
            std::size_t stored = 0;
            if (!records.empty()) {
                result = database->Store(records, stored);
            }
            if (result) {
                offset += consumed;
                std::lock_guard lock(mutex);
                link.sent += stored;
            }
        }
        std::size_t waiting = 0;
        if (!result) {
            for (std::uint64_t at = offset, consumed = 1; consumed > 0; at += consumed) {
                for (const auto& record : WholeRecords(ReadPiece(log, at, kPieceBytes), consumed)) {
                    waiting += record.Has("sha256") ? 1 : 0;
                }
            }
        }
        std::lock_guard lock(mutex);
        if (!result && (link.connected || link.state != result.state || link.since == decltype(link.since){})) {
            link.since = std::chrono::system_clock::now();
        }
        link.connected = static_cast<bool>(result);
        link.state = result.state;
        link.message = result.message;
        link.waiting = waiting;
        return static_cast<bool>(result);
    }

    void Run() {
        std::unique_lock lock(mutex);
        while (!stopping) {
            const bool failed = passes > 0 && !link.connected;
            clock.WaitFor(lock, wake, failed ? kRetryMs : kIdleMs, [this] { return woken || stopping; });
            if (stopping) {
                break;
            }
            woken = false;
            const std::uint64_t covered = appended;
            busy = true;
            lock.unlock();
            const bool stored = Pass();
            lock.lock();
            busy = false;
            ++passes;
            (stored ? done : failedUpTo) = covered;
            progress.notify_all();
        }
        database->Close();
        exited = true;
        progress.notify_all();
    }

    const std::string log;
    const std::unique_ptr<RecordDatabase> database;
    Clock& clock;
    std::uint64_t offset = 0;  // how much of the log is stored: the sending thread's own

    mutable std::mutex mutex;
    std::condition_variable wake, progress;
    bool woken = true;  // the first pass sends what an earlier run left waiting
    bool stopping = false, busy = false, exited = false;
    // Wakes asked for; the most a pass that stored everything covered, and the most one that failed did.
    std::uint64_t appended = 1, done = 0, failedUpTo = 0;
    std::uint64_t passes = 0;
    DatabaseLink link;
};

RecordSender::RecordSender(std::string log, std::unique_ptr<RecordDatabase> database, Clock& clock,
                           std::unique_ptr<RecordDatabase> queries)
    : shared_(std::make_shared<Shared>(std::move(log), std::move(database), clock)), queries_(std::move(queries)) {
    // The thread holds the state too: should it outlast the bound of the end, it still runs on valid memory.
    thread_ = std::thread([shared = shared_] { shared->Run(); });
}

RecordSender::~RecordSender() {
    Drain(kDrainMs);
    std::unique_lock lock(shared_->mutex);
    shared_->stopping = true;
    shared_->wake.notify_all();
    const bool ended = shared_->clock.WaitFor(lock, shared_->progress, kEndMs, [this] { return shared_->exited; });
    lock.unlock();
    if (ended) {
        thread_.join();
    } else {
        thread_.detach();  // still connecting: the records wait in the log for the next run
    }
}

void RecordSender::Wake() {
    std::lock_guard lock(shared_->mutex);
    ++shared_->appended;
    shared_->woken = true;
    shared_->wake.notify_all();
}

DatabaseLink RecordSender::Link() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->link;
}

DatabaseResult RecordSender::LabelPassed(const std::string& label, std::string& where) {
    where.clear();
    const DatabaseLink link = Link();
    // A database the passes cannot reach would hold each box for the bound of a connection, to no avail.
    if (!queries_ || (!link.connected && link.state == DatabaseState::Unreachable)) {
        return {DatabaseState::Unreachable, link.message};
    }
    std::lock_guard lock(queryMutex_);
    bool passed = false;
    DatabaseResult result = queries_->LabelPassed(label, passed);
    if (result && passed) {
        where = "the " + queries_->Name();
    }
    return result;
}

bool RecordSender::Drain(std::uint32_t ms) {
    std::unique_lock lock(shared_->mutex);
    Shared& s = *shared_;
    const std::uint64_t target = s.appended;
    // A pass that began after the last wake has seen every record appended by then.
    return s.clock.WaitFor(lock, s.progress, ms, [&s, target] { return s.done >= target || s.failedUpTo >= target; }) &&
           s.done >= target;
}

int OutboxSink::AppendStarted(SessionRecord& record) {
    const int error = log_->AppendStarted(record);
    if (error == 0) {
        sender_->Wake();
    }
    return error;
}

int OutboxSink::AppendResult(const SessionRecord& record) {
    const int error = log_->AppendResult(record);
    if (error == 0) {
        sender_->Wake();
    }
    return error;
}

int OutboxSink::LabelPassed(const std::string& label, std::string& where) {
    const int error = log_->LabelPassed(label, where);
    // The log knows this station's boxes, the database every station's; one it cannot ask leaves the log's word,
    // and the line goes on.
    if (error == 0 && where.empty()) {
        sender_->LabelPassed(label, where);
    }
    return error;
}

std::function<std::unique_ptr<RecordSink>(std::unique_ptr<RecordSink>)> OutboxOf(
    const std::shared_ptr<RecordSender>& sender) {
    if (!sender) {
        return {};
    }
    return [sender](std::unique_ptr<RecordSink> log) { return std::make_unique<OutboxSink>(std::move(log), sender); };
}

std::string DescribeDatabaseLink(const DatabaseLink& link) {
    if (link.connected) {
        return "database: connected";
    }
    if (link.state == DatabaseState::Ready) {
        return "database: connecting";  // before the first pass has ended
    }
    const std::tm utc = UtcTime(std::chrono::system_clock::to_time_t(link.since));
    char since[16];
    std::snprintf(since, sizeof since, "%02d:%02d:%02d", utc.tm_hour, utc.tm_min, utc.tm_sec);
    return std::string("database: ") + (link.state == DatabaseState::Refused ? "refused" : "unreachable") + " since " +
           since + " UTC (" + link.message + "), " + std::to_string(link.waiting) +
           (link.waiting == 1 ? " record" : " records") + " waiting";
}

std::shared_ptr<RecordSender> StartRecordSender(const std::string& url, const std::string& log, std::string& refusal,
                                                std::string& notice) {
    if (!RecordDatabaseAvailable()) {
        refusal = "a records database (--db) is not available on this platform";
        return nullptr;
    }
    auto database = OpenRecordDatabase(url);
    const DatabaseResult result = database->Connect();
    if (result.state == DatabaseState::Refused) {
        refusal = "the database refused the station: " + result.message;
        return nullptr;
    }
    if (!result) {
        notice = "the database cannot be reached (" + result.message + "): the records wait in the log " + log +
                 " until it can";
    }
    return std::make_shared<RecordSender>(log, std::move(database), SteadyClock(), OpenRecordDatabase(url));
}

std::string DefaultOutboxLog(std::string& error) {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::filesystem::path folder;
    if (state != nullptr && std::filesystem::path(state).is_absolute()) {
        folder = state;
    } else if (home != nullptr && *home != '\0') {
        folder = std::filesystem::path(home) / ".local" / "state";
    } else {
        error = "neither XDG_STATE_HOME nor HOME names a folder for the records' log";
        return {};
    }
    folder /= "kestrel";
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made) {
        error = "cannot make " + Utf8FromPath(folder) + ": " + made.message();
        return {};
    }
    return Utf8FromPath(folder / "records.log");
}

}  // namespace kestrel
