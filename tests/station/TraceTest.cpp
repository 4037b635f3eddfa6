// What makes the log trustworthy: the hash chain that shows any edit, appends
// from several processes that keep it whole, and the manifest of approved firmware.
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "StationTestSupport.h"
#include "station/ApprovedManifest.h"
#include "station/LogChain.h"
#include "station/LogFileSink.h"
#include "station/LotUnits.h"
#include "station/SessionLog.h"
#include "station/YieldReport.h"

namespace kestrel::testing {
namespace {

SessionRecord Attempt(const std::string& box, const std::string& lot) {
    SessionRecord record;
    record.port = "USB:" + box;
    record.box = box;
    record.trace.lot = lot;
    return record;
}

// A record appended through a sink of its own, as a run of its own appends it.
int AppendStarted(const std::string& path, SessionRecord& record) {
    LogFileSink sink(path, record.trace.lot);
    std::string notice;
    const int opened = sink.Open(notice);
    return opened != 0 ? opened : sink.AppendStarted(record);
}

// Runs `child(p)` in `count` processes started together, each released once all are there; a child that
// returns false fails the test.
template <class Child>
void InProcessesAtOnce(int count, Child child) {
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < count; ++p) {
        if (const pid_t pid = ::fork(); pid != 0) {
            children.push_back(pid);
            continue;
        }
        ::close(start[1]);
        char none = 0;
        [[maybe_unused]] const auto ended = ::read(start[0], &none, 1);
        ::_exit(child(p) ? 0 : 1);
    }
    ::close(start[0]);
    ::close(start[1]);
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

TEST(LogChain, AnyOneByteChangedRemovedOrMovedRecordIsNamed) {
    TempDir dir;
    const std::string path = (dir.Path() / "chain.log").string();
    for (const char* box : {"A", "B", "C"}) {
        SessionRecord record = Attempt(box, "L1");
        ASSERT_EQ(AppendStarted(path, record), 0);
    }
    const std::string log = ReadFile(path);
    const auto records = SplitLog(log);
    ASSERT_EQ(records.size(), 3u);
    // Every byte of every record, changed: the check names the record that holds it.
    for (std::size_t at = 0, record = 0; at < log.size(); ++at) {
        record += at == records[0].text.size() || at == records[0].text.size() + records[1].text.size();
        std::string edited = log;
        edited[at] = static_cast<char>(edited[at] ^ 0x01);
        const ChainCheck check = VerifyChain(edited);
        ASSERT_EQ(check.broken, record + 1) << "byte " << at << ": " << check.reason;
    }
    // The second record removed, or moved behind the third: the next one in its place no longer follows.
    EXPECT_EQ(VerifyChain(records[0].text + records[2].text).broken, 2u);
    EXPECT_EQ(VerifyChain(records[0].text + records[2].text + records[1].text).broken, 2u);
    EXPECT_EQ(VerifyChain(records[0].text + records[2].text + records[1].text).line, records[1].firstLine);
}

// A record ends with its own hash and the empty line: anything between them is an edit, however small.
TEST(LogChain, NothingMayStandAfterARecordsOwnHash) {
    const std::string record =
        ChainRecord("=== 2026-01-05T10:00:00.000Z Kestrel Loader 1\nschema: 3\nport: COM40\n", kChainStart);
    ASSERT_EQ(VerifyChain(record).broken, 0u);
    const std::string own = record.substr(record.find("sha256: "), 72);
    const std::string upTo = record.substr(0, record.size() - 2);
    for (const std::string& tail : std::vector<std::string>{"\nextra: 1", " ", "0", "\r", "\n" + own})
        EXPECT_EQ(VerifyChain(upTo + tail + "\n\n").broken, 1u) << tail;
}

// Processes sharing a log, appending at once: every record whole, one chain,
// and each attempt counted once across them.
TEST(LogChain, AppendsFromSeveralProcessesKeepTheChainAndCountAttemptsTogether) {
    TempDir dir;
    const std::string path = (dir.Path() / "shared.log").string();
    constexpr int kProcesses = 4, kRecords = 40;
    InProcessesAtOnce(kProcesses, [&path](int) {
        // Each process opens the log once and sees the others' records as they come.
        LogFileSink sink(path, "L1");
        std::string notice;
        bool appended = sink.Open(notice) == 0;
        for (int r = 0; r < kRecords && appended; ++r) {
            SessionRecord record = Attempt("KST-A", "L1");
            appended = sink.AppendStarted(record) == 0;
        }
        return appended;
    });
    const std::string log = ReadFile(path);
    const ChainCheck check = VerifyChain(log);
    EXPECT_EQ(check.broken, 0u) << check.reason;
    EXPECT_EQ(check.records, std::size_t{kProcesses * kRecords});
    int expected = 0;
    for (const auto& record : SplitLog(log))
        EXPECT_EQ(record.Field("attempt"), std::to_string(++expected));
    // Another lot, or another box, starts its own count; a port with no box to name counts none.
    SessionRecord other = Attempt("KST-A", "L2"), box = Attempt("KST-B", "L1"), unnamed = Attempt("", "L1");
    ASSERT_EQ(AppendStarted(path, other), 0);
    ASSERT_EQ(AppendStarted(path, box), 0);
    ASSERT_EQ(AppendStarted(path, unnamed), 0);
    EXPECT_EQ(other.trace.attempt, 1);
    EXPECT_EQ(box.trace.attempt, 1);
    EXPECT_EQ(unnamed.trace.attempt, 0);
}

// A lock another process keeps is waited for within its bound, and a cancel ends the wait at once.
TEST(LogLock, TheWaitIsBoundedAndCancelledAndALockLetGoIsTaken) {
    ManualClock clock;
    int tries = 0;
    const auto heldFor = [&tries](int times) { return [&tries, times] { return ++tries > times ? 0 : EWOULDBLOCK; }; };
    EXPECT_EQ(LockWithin(heldFor(1000000), {.boundMs = 10000, .clock = &clock}), ETIMEDOUT);
    EXPECT_GE(clock.TickMs(), 10000u);
    EXPECT_LT(clock.TickMs(), 10200u);
    tries = 0;
    EXPECT_EQ(LockWithin(heldFor(3), {.clock = &clock}), 0);
    EXPECT_EQ(tries, 4);
    EXPECT_EQ(LockWithin(heldFor(1000000), {.cancelled = [] { return true; }, .clock = &clock}), ECANCELED);
}

// The report counts a box's tries by its serial number; boxes swapped on a port with none to name are not one box.
TEST(YieldReport, TriesAreCountedPerBoxAndNotPerPort) {
    TempDir dir;
    const std::string path = (dir.Path() / "tries.log").string();
    LogFileSink sink(path, "L1");
    std::string notice;
    ASSERT_EQ(sink.Open(notice), 0);
    for (const char* box : {"KST-A", "KST-A", "KST-B", "", "", ""}) {
        SessionRecord record = Attempt(box, "L1");
        record.port = "/dev/ttyS4";
        ASSERT_EQ(sink.AppendStarted(record), 0);
        record.isStart = false;
        record.outcome = "success";
        ASSERT_EQ(sink.AppendResult(record), 0);
    }
    const YieldReport report = MakeYieldReport(ReadFile(path));
    std::vector<std::pair<int, std::size_t>> boxesByTries;
    for (const auto& tries : report.attempts)
        boxesByTries.emplace_back(tries.attempts, tries.boxes);
    EXPECT_EQ(boxesByTries, (std::vector<std::pair<int, std::size_t>>{{1, 1}, {2, 1}}));
}

// Processes taking numbers from one counter at once: each number once, and the file whole after every take.
TEST(SerialCounter, ProcessesTakingAtOnceNeverShareANumber) {
    TempDir dir;
    const std::string counter = (dir.Path() / "counter").string();
    PreparedLot lot;
    lot.image.sourceKind = kSourceKindMot;
    lot.image.bytes.assign(0x20006, 0xFF);
    std::unique_ptr<LotUnits> made;
    ASSERT_FALSE(LotUnits::Prepare({.fieldAt = 0xE1000, .counter = counter, .first = 1}, lot, made));
    constexpr int kProcesses = 4, kTakes = 100;
    InProcessesAtOnce(kProcesses, [&](int p) {
        std::string taken;
        BoxUnit unit;
        std::string why;
        for (int t = 0; t < kTakes; ++t) {
            if (made->Take(unit, why) != 0)
                return false;
            taken += unit.Serial() + "\n";
        }
        dir.Write("taken-" + std::to_string(p), taken);
        return true;
    });
    std::set<std::string> numbers;
    for (int p = 0; p < kProcesses; ++p)
        for (const auto& number : SplitLines(ReadFile((dir.Path() / ("taken-" + std::to_string(p))).string())))
            EXPECT_TRUE(numbers.insert(number).second) << "given twice: " << number;
    EXPECT_EQ(ReadFile(counter), std::to_string(kProcesses * kTakes + 1) + "\n");
}

TEST(ApprovedManifest, TakesSha256sumLinesAndNamesTheFirstLineThatIsNot) {
    TempDir dir;
    const std::string a(64, 'a'), b = std::string(63, 'B') + "0";
    ApprovedManifest manifest;
    EXPECT_FALSE(ReadApprovedManifest(dir.Write("good", a + "  fw.mot\n\n" + b + " *fw.bin\r\n"), manifest));
    EXPECT_TRUE(manifest.Lists(a));
    EXPECT_TRUE(manifest.Lists(std::string(63, 'b') + "0"));  // sha256sum writes lower case; either is taken
    for (const auto& [text, badLine] : std::vector<std::pair<std::string, std::size_t>>{
             {a + "  ok\n" + a.substr(1) + "  short\n", 2}, {a + " fw.mot\n", 1}, {"x" + a.substr(1) + "  x\n", 1}}) {
        ApprovedManifest refused;
        EXPECT_EQ(ReadApprovedManifest(dir.Write("bad", text), refused).badLine, badLine) << text;
    }
    ApprovedManifest none;
    EXPECT_TRUE(ReadApprovedManifest(dir.Write("empty", std::string("\n")), none).empty);
    EXPECT_EQ(ReadApprovedManifest((dir.Path() / "absent").string(), none).error, ENOENT);
}

}  // namespace
}  // namespace kestrel::testing
