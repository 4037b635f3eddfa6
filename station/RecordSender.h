#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/Clock.h"
#include "station/RecordDatabase.h"
#include "station/RecordSink.h"

namespace kestrel {

// How the link to the records database stands, for a window or a message.
struct DatabaseLink {
    DatabaseState state = DatabaseState::Ready;
    bool connected = false;                         // the last pass reached the database
    std::chrono::system_clock::time_point since{};  // unreachable or refused since
    std::string message;                            // why, when not connected
    std::size_t waiting = 0;                        // records in the log the database lacks
    std::size_t sent = 0;                           // records this process stored
};

class RecordSender;

// The lot's sink for `sender` (LotSource::outbox): the log's, waking the sender after each record; unset without one.
std::function<std::unique_ptr<RecordSink>(std::unique_ptr<RecordSink>)> OutboxOf(
    const std::shared_ptr<RecordSender>& sender);

// "database: connected", or "database: unreachable since 14:03:07 (why), 3 records waiting".
std::string DescribeDatabaseLink(const DatabaseLink& link);

// Follows a log, the outbox, and stores its records in the database in the
// log's order on a thread of its own, so that a slow or absent database never
// holds a download up. It starts from the log's first record: what the
// database holds already is not stored twice. After a failure it tries again
// when the next record is appended, or after a pause.
class RecordSender {
public:
    // `queries`: a link of its own for the questions a download asks (null: none is asked), so that a question
    // never waits behind a pass.
    RecordSender(std::string log, std::unique_ptr<RecordDatabase> database, Clock& clock = SteadyClock(),
                 std::unique_ptr<RecordDatabase> queries = nullptr);
    // Gives what is waiting up to `drainMs` to reach the database, then ends the thread.
    ~RecordSender();
    RecordSender(const RecordSender&) = delete;
    RecordSender& operator=(const RecordSender&) = delete;

    // A record was appended: send it, and what waits before it.
    void Wake();
    DatabaseLink Link() const;
    // Whether a box with `label` passed at any station; `where` names the database when it did. Not Ready: the
    // database cannot say, and is not asked while the passes find it unreachable.
    DatabaseResult LabelPassed(const std::string& label, std::string& where);
    // Waits up to `ms` until everything appended is stored, or a pass fails; whether it was stored.
    bool Drain(std::uint32_t ms);

    static constexpr std::uint32_t kRetryMs = 30000;
    static constexpr std::uint32_t kDrainMs = 3000;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    std::mutex queryMutex_;
    std::unique_ptr<RecordDatabase> queries_;
};

// A sink that appends to `log` and then wakes `sender`: the record is kept
// before the database hears of it.
class OutboxSink final : public RecordSink {
public:
    OutboxSink(std::unique_ptr<RecordSink> log, std::shared_ptr<RecordSender> sender)
        : log_(std::move(log)), sender_(std::move(sender)) {}
    int AppendStarted(SessionRecord& record) override;
    int AppendResult(const SessionRecord& record) override;
    int LabelPassed(const std::string& label, std::string& where) override;
    std::string Name() const override { return log_->Name(); }

private:
    std::unique_ptr<RecordSink> log_;
    std::shared_ptr<RecordSender> sender_;
};

// Before any box is touched: a sender of `log`'s records to the database at
// `url`, checked at once. A database that refuses us (credentials, rights, a
// schema it lacks and may not have made), or a build without one, gives null
// with the usage error's sentence in `refusal`; one that cannot be reached
// gives a sender all the same, with why in `notice`: the records wait in the log.
std::shared_ptr<RecordSender> StartRecordSender(const std::string& url, const std::string& log, std::string& refusal,
                                                std::string& notice);

// Where --db keeps the records when no --log is given: $XDG_STATE_HOME/kestrel/records.log
// ($HOME/.local/state when unset); its folder is made. Empty with `error` when it cannot be.
std::string DefaultOutboxLog(std::string& error);

}  // namespace kestrel
