#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "station/LotUnits.h"
#include "station/PreparedLot.h"
#include "station/RecordSender.h"
#include "station/TraceFields.h"
#include "station/YieldReport.h"

namespace kestrel {
class UsbDriver;
}

namespace kestrel::stationapp {

// What one box's tile shows. The result stays until the box is removed, so a
// technician who looks up late still sees it.
struct Tile {
    enum class Result { None, Pass, Fail };
    std::string name;  // the port, or the USB box's link name
    bool present = false;
    bool running = false;
    std::string stage;  // the newest status line
    std::uint32_t done = 0, total = 0;
    double seconds = 0;  // so far while it runs
    std::uint32_t startedMs = 0;
    Result result = Result::None;
    std::string label;      // the label scanned for this box; empty: none
    std::string serial;     // what it got of its own: its serial number or unit data row
    std::string errorLine;  // the box's last "Error: " line after a failure
    std::string openHint;   // after its link did not open: why, and what to do about it
};

struct LotCounters {
    int passed = 0, failed = 0;
    double elapsedSeconds = 0;              // since the lot started
    std::deque<std::string> lastResults{};  // newest first, at most ten: "PASS name" or "FAIL name"

    int Total() const { return passed + failed; }
    double YieldPercent() const { return Total() == 0 ? 0.0 : 100.0 * passed / Total(); }
    std::optional<double> BoxesPerHour() const { return kestrel::BoxesPerHour(Total(), elapsedSeconds); }
};

struct LotSettings {
    std::string firmware{};
    std::string logFile{};   // empty: no records
    std::string database{};  // every record also goes to this database; empty: the log alone
    std::string manifest{};  // approved firmware; empty: any
    TraceFields trace{};     // operator, station, lot and the approval
    int count = 0;           // boxes in the lot; 0: until stopped
    double answerTimeoutSeconds = 30;
    UsbDriver* usbDriver = nullptr;  // null: the system's
    UnitOptions units{};             // what each box gets of its own; none without fieldAt
};

// A lot on the production line, without a toolkit: boxes appear and go (from a
// watcher or hot-plug events), each new box is flashed once through the gang
// code on a thread of its own, and the front end paints snapshots of the tiles
// and counters. Every box gets the same record kestrel-flash --log writes.
class StationLogic {
public:
    explicit StationLogic(LotSettings settings, Clock& clock = SteadyClock());
    ~StationLogic();  // cancels what runs and joins it: every port is closed
    StationLogic(const StationLogic&) = delete;
    StationLogic& operator=(const StationLogic&) = delete;

    // Reads, approves and builds the firmware once for the whole lot; false
    // with the reason in `error` when it cannot be flashed. Refuses a log that
    // cannot be written. `notices` gets what the user should know before the first box.
    bool StartLot(std::string& error, std::vector<std::string>* notices = nullptr);
    // Once the file on disk is no longer what the lot read: the sentence that says so, given once.
    std::string TakeNotice();
    // A label scanned (a scanner types it and ends with Enter): it goes to the
    // next box that appears, labels scanned ahead in their order.
    void ScanLabel(const std::string& typed);
    // Labels scanned that no box took yet.
    std::vector<std::string> WaitingLabels() const;
    // No new box is begun; boxes already running finish.
    void StopLot();
    bool LotRunning() const;

    // A box was plugged in (`present`) or removed. A box that appears while the
    // lot runs is flashed, once until it is removed again.
    void BoxPresence(const std::string& name, bool present);

    // How the link to the database stands ("database: connected"); empty without one.
    std::string DatabaseLinkText() const;

    std::vector<Tile> Tiles() const;
    LotCounters Counters() const;
    int Running() const;
    // --count boxes have ended and none runs any more.
    bool LotComplete() const;
    // Cancels every running download and waits for each to end.
    void CancelAll();

private:
    struct Job;
    void Begin(const std::string& name);
    void RunJob(Job& job, const std::string& name, Tile& tile, const std::shared_ptr<PreparedLot>& lot,
                const std::string& label);
    void Ended(const std::string& name, bool pass, double seconds, const std::string& error,
               const std::string& openHint);

    LotSettings settings_;
    Clock& clock_;
    std::shared_ptr<RecordSender> sender_;  // before the lot: its records are sent until the lot ends
    std::shared_ptr<PreparedLot> lot_;      // each box's download keeps the lot it began in
    std::string notice_;
    std::unique_ptr<LotUnits> units_;
    std::deque<std::string> labels_;       // scanned, for the next boxes
    std::atomic<bool> cancelling_{false};  // ends a wait for the log's lock
    mutable std::mutex mutex_;
    std::map<std::string, Tile> tiles_;
    std::map<std::string, std::unique_ptr<Job>> jobs_;
    LotCounters counters_;
    bool lotRunning_ = false;
    int begun_ = 0;
    std::uint32_t lotStartMs_ = 0;
};

}  // namespace kestrel::stationapp
