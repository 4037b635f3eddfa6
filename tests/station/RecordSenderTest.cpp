#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>

#include <gtest/gtest.h>

#include "station/LogFileSink.h"
#include "station/RecordSender.h"
#include "support/TempDir.h"
#include "support/Text.h"

namespace kestrel {
namespace {

// A database in memory that keeps each record once, in the order first stored; it can be down, or hang in a store.
struct FakeServer {
    std::mutex mutex;
    std::condition_variable released;
    bool reachable = false, hanging = false;
    std::vector<std::string> stored;
    // Changes how the server behaves while a sender may be storing, and wakes a store that hangs.
    void Set(bool& flag, bool value) {
        std::lock_guard lock(mutex);
        flag = value;
        released.notify_all();
    }
};

class FakeDatabase final : public RecordDatabase {
public:
    explicit FakeDatabase(std::shared_ptr<FakeServer> server) : server_(std::move(server)) {}
    DatabaseResult Connect() override {
        std::lock_guard lock(server_->mutex);
        return server_->reachable ? DatabaseResult{} : DatabaseResult{DatabaseState::Unreachable, "no route"};
    }
    DatabaseResult Store(const std::vector<LogRecordText>& records, std::size_t& count) override {
        std::unique_lock lock(server_->mutex);
        server_->released.wait_for(lock, std::chrono::seconds(3), [this] { return !server_->hanging; });
        if (!server_->reachable)
            return {DatabaseState::Unreachable, "no route"};
        const std::size_t before = server_->stored.size();
        for (const auto& record : records)
            if (std::ranges::count(server_->stored, record.Field("sha256")) == 0)
                server_->stored.push_back(record.Field("sha256"));
        count = server_->stored.size() - before;
        return {};
    }
    DatabaseResult Fetch(const std::string&, const std::string&, std::vector<StoredRecord>&) override { return {}; }
    // Not asked by the sender's passes.
    DatabaseResult LabelPassed(const std::string&, bool&) override { return {DatabaseState::Refused, "unused"}; }
    DatabaseResult MakeSequence(const std::string&, std::uint64_t, std::uint64_t) override { return {}; }
    DatabaseResult TakeBlock(const std::string&, std::uint64_t&, std::uint64_t&) override { return {}; }
    void Close() override {}
    std::string Name() const override { return "fake"; }

private:
    std::shared_ptr<FakeServer> server_;
};

struct Outbox {
    Outbox(const std::string& log, const std::shared_ptr<FakeServer>& server)
        : sender(std::make_shared<RecordSender>(log, std::make_unique<FakeDatabase>(server))),
          sink(std::make_unique<LogFileSink>(log, "L1"), sender) {}
    int Append(int n) {
        SessionRecord record;
        record.port = "port-" + std::to_string(n);
        record.box = "KST" + std::to_string(n);
        return sink.AppendStarted(record);
    }
    std::shared_ptr<RecordSender> sender;
    OutboxSink sink;
};

std::vector<std::string> LogKeys(const std::string& log) {
    std::vector<std::string> keys;
    for (const auto& record : SplitLog(testing::ReadFile(log)))
        keys.push_back(record.Field("sha256"));
    return keys;
}

TEST(RecordSenderTest, RecordsWaitThroughAnOutageThenGoInTheLogsOrderOnce) {
    const testing::TempDir dir;
    const std::string log = (dir.Path() / "station.log").string();
    auto server = std::make_shared<FakeServer>();
    {
        Outbox outbox(log, server);
        for (int n = 1; n <= 3; ++n)
            ASSERT_EQ(outbox.Append(n), 0);
        EXPECT_FALSE(outbox.sender->Drain(5000));
        const DatabaseLink down = outbox.sender->Link();
        EXPECT_EQ(down.waiting, 3u);
        EXPECT_EQ(DescribeDatabaseLink(down).substr(0, 28), "database: unreachable since ");
        server->Set(server->reachable, true);
        ASSERT_EQ(outbox.Append(4), 0);  // the next record sent takes those waiting with it
        EXPECT_TRUE(outbox.sender->Drain(5000));
        EXPECT_EQ(DescribeDatabaseLink(outbox.sender->Link()), "database: connected");
        EXPECT_EQ(server->stored, LogKeys(log));
    }
    // A later run over the same log sends what was added to it, and nothing twice.
    Outbox later(log, server);
    ASSERT_EQ(later.Append(5), 0);
    EXPECT_TRUE(later.sender->Drain(5000));
    EXPECT_EQ(server->stored, LogKeys(log));
    EXPECT_EQ(later.sender->Link().sent, 1u);
}

TEST(RecordSenderTest, AHangingDatabaseHoldsNoDownloadUp) {
    const testing::TempDir dir;
    const std::string log = (dir.Path() / "station.log").string();
    auto server = std::make_shared<FakeServer>();
    server->reachable = true;
    server->hanging = true;
    Outbox outbox(log, server);
    auto appended = std::async(std::launch::async, [&outbox] { return outbox.Append(1) + outbox.Append(2); });
    ASSERT_EQ(appended.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(appended.get(), 0);
    server->Set(server->hanging, false);
    EXPECT_TRUE(outbox.sender->Drain(5000));
    EXPECT_EQ(server->stored, LogKeys(log));
}

// The words every front end shows for the link: a window shows them as they stand.
TEST(RecordSenderTest, TheLinkIsSaidWithItsStateSinceWhenInUtcAndWhatWaits) {
    const auto since = std::chrono::system_clock::from_time_t(1700000000);  // 22:13:20 UTC
    const std::pair<DatabaseLink, const char*> rows[] = {
        {{DatabaseState::Ready, true, since, "", 4, 0}, "database: connected"},
        {{DatabaseState::Ready, false, since, "", 0, 0}, "database: connecting"},
        {{DatabaseState::Unreachable, false, since, "no route", 3, 0},
         "database: unreachable since 22:13:20 UTC (no route), 3 records waiting"},
        {{DatabaseState::Refused, false, since, "bad password", 1, 0},
         "database: refused since 22:13:20 UTC (bad password), 1 record waiting"},
    };
    for (const auto& [link, said] : rows)
        EXPECT_EQ(DescribeDatabaseLink(link), said);
}

// What is taken as a database's name rather than a log's, and which sequence names may go into a statement.
TEST(RecordDatabaseNames, KeywordStringsNameADatabaseUnlessSuchAFileIsThereAndSequencesArePlainIdentifiers) {
    const testing::TempDir dir;
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    dir.Write("port=7.log", std::string("x"));
    for (const char* text : {"postgresql://db/kestrel", "host=db dbname=kestrel", " dbname = kestrel"})
        EXPECT_TRUE(NamesDatabase(text)) << text;
    for (const char* text : {"records.log", "hostile=1.log", "port=7.log"})
        EXPECT_FALSE(NamesDatabase(text)) << text;
    std::filesystem::current_path(before);
    for (const std::string& name : {std::string("units"), std::string("_Line_2"), std::string(63, 'a')})
        EXPECT_EQ(SequenceNameProblem(name), "") << name;
    for (const std::string& name : {std::string(64, 'a'), std::string(), std::string("2units"),
                                    std::string("x\"; DROP TABLE kestrel_records; --"), std::string("a.b")})
        EXPECT_NE(SequenceNameProblem(name), "") << name;
}

}  // namespace
}  // namespace kestrel
