#include "station-app/StationLogic.h"

#include <atomic>
#include <cstring>
#include <thread>
#include <utility>

#include "links/UsbDriver.h"
#include "session/ExitStatus.h"
#include "station/OpenFailureHint.h"
#include "station/PortListing.h"
#include "station/RecordedDownload.h"
#include "station/Sha256.h"

namespace kestrel::stationapp {

namespace {

constexpr std::size_t kLastResults = 10;

Tile EmptyTile(const std::string& name, bool present) {
    Tile tile;
    tile.name = name;
    tile.present = present;
    return tile;
}

// A box's lines and progress, into its tile.
class TileStatus : public StatusList {
public:
    TileStatus(std::mutex& mutex, Tile& tile) : mutex_(mutex), tile_(tile) {}
    void AppendStatus(const std::string& line) override {
        std::lock_guard lock(mutex_);
        tile_.stage = line;
    }
    void Clear() override {}
    void Progress(ProgressStage /*stage*/, std::uint32_t done, std::uint32_t total) override {
        std::lock_guard lock(mutex_);
        tile_.done = done;
        tile_.total = total;
    }

private:
    std::mutex& mutex_;
    Tile& tile_;
};

}  // namespace

struct StationLogic::Job {
    std::atomic<bool> cancel{false};
    std::jthread thread;  // last: joined before the flag goes
};

namespace {

bool StartDatabase(const std::string& url, std::string& log, std::shared_ptr<RecordSender>& sender, std::string& error,
                   std::string& notice) {
    if (log.empty()) {
        log = DefaultOutboxLog(error);
        if (log.empty()) {
            return false;
        }
    }
    sender = StartRecordSender(url, log, error, notice);
    return sender != nullptr;
}

}  // namespace

std::string StationLogic::DatabaseLinkText() const {
    std::lock_guard lock(mutex_);
    return sender_ ? DescribeDatabaseLink(sender_->Link()) : std::string();
}

StationLogic::StationLogic(LotSettings settings, Clock& clock) : settings_(std::move(settings)), clock_(clock) {}

StationLogic::~StationLogic() { CancelAll(); }

bool StationLogic::StartLot(std::string& error, std::vector<std::string>* notices) {
    auto lot = std::make_shared<PreparedLot>();
    std::string log = settings_.logFile, notice;
    std::shared_ptr<RecordSender> sender;
    if (!settings_.database.empty() && !StartDatabase(settings_.database, log, sender, error, notice)) {
        return false;
    }
    const LotSource source{.firmware = settings_.firmware,
                           .manifest = settings_.manifest,
                           .log = log,
                           .trace = settings_.trace,
                           .logWait = {.cancelled = [this] { return cancelling_.load(); }},
                           .labels = true,  // a label may be scanned at any time
                           .outbox = OutboxOf(sender)};
    if (const LotRefusal refused = PrepareLot(source, *lot)) {
        error = refused.message;
        return false;
    }
    if (lot->built != DownloadOutcome::Success) {
        error = lot->lines.empty() ? "cannot read " + settings_.firmware : lot->lines.back().text;
        return false;
    }
    std::unique_ptr<LotUnits> units;
    if (settings_.units.fieldAt) {
        UnitOptions options = settings_.units;
        options.database = settings_.database;
        options.log = log;  // a station's block of serial numbers is kept beside its outbox
        if (const LotRefusal refused = LotUnits::Prepare(options, *lot, units)) {
            error = refused.message;
            return false;
        }
    }
    if (notices != nullptr) {
        *notices = lot->notices;
        if (!notice.empty()) {
            notices->push_back(notice);
        }
    }
    std::lock_guard lock(mutex_);
    units_ = std::move(units);
    sender_ = std::move(sender);
    lot_ = std::move(lot);
    lotRunning_ = true;
    begun_ = 0;
    counters_ = {};
    lotStartMs_ = clock_.TickMs();
    // Boxes already plugged in when the lot starts are the lot's first.
    std::vector<std::string> waiting;
    for (auto& [name, tile] : tiles_) {
        if (tile.present && !tile.running && tile.result == Tile::Result::None) {
            waiting.push_back(name);
        }
    }
    for (const auto& name : waiting) {
        Begin(name);
    }
    return true;
}

void StationLogic::StopLot() {
    std::lock_guard lock(mutex_);
    lotRunning_ = false;
}

bool StationLogic::LotRunning() const {
    std::lock_guard lock(mutex_);
    return lotRunning_;
}

void StationLogic::BoxPresence(const std::string& name, bool present) {
    std::lock_guard lock(mutex_);
    Tile& tile = tiles_[name];
    if (tile.present == present) {
        return;  // a box left in is not flashed again
    }
    tile.name = name;
    tile.present = present;
    if (!present) {
        // Its result goes with it; a running download ends on its own line failure.
        if (!tile.running) {
            tile = EmptyTile(name, false);
        }
        return;
    }
    if (!tile.running) {
        tile = EmptyTile(name, true);
        if (lotRunning_) {
            Begin(name);
        }
    }
}

// With the mutex held.
void StationLogic::Begin(const std::string& name) {
    if (settings_.count > 0 && begun_ >= settings_.count) {
        return;
    }
    ++begun_;
    if (std::string notice = lot_->ChangeNotice(); !notice.empty()) {
        notice_ = std::move(notice);
    }
    Tile& tile = tiles_[name];
    tile.running = true;
    tile.stage.clear();
    tile.label.clear();
    if (!labels_.empty()) {
        tile.label = labels_.front();
        labels_.pop_front();
    }
    tile.startedMs = clock_.TickMs();
    auto& job = jobs_[name];
    if (job) {
        job->thread = {};  // the box's earlier download has ended: its thread is only joined
    }
    job = std::make_unique<Job>();
    Job* running = job.get();
    running->thread = std::jthread(
        [this, running, name, &tile, lot = lot_, label = tile.label] { RunJob(*running, name, tile, lot, label); });
}

// A map's elements stay where they are, so `tile` may be kept while others come and go.
void StationLogic::RunJob(Job& job, const std::string& name, Tile& tile, const std::shared_ptr<PreparedLot>& lot,
                          const std::string& label) {
    TileStatus status(mutex_, tile);
    SessionRecordBuilder record(name, settings_.firmware, &status);
    // The lines of the one reading of the file belong to every box's record, as in a gang of kestrel-flash.
    record.NoteEarlierLines(lot->lines);
    record.Trace() = lot->records->Fields();
    record.Trace().label = label;
    record.NoteImage(static_cast<std::uint32_t>(lot->image.bytes.size()), lot->image.sourceKind, lot->image.sha256);
    UsbDriver& usb = SessionOptions{.usbDriver = settings_.usbDriver}.Usb();
    std::string lost;
    // In this order: a label refused takes no number, and the started record carries what the box took.
    BoxUnit unit;
    int refused = lot->records->CheckLabel(label, false, lost);
    if (refused == kExitSuccess && units_) {
        refused = units_->Take(unit, lost);
        record.Trace().serial = unit.Serial();
        record.Trace().unit = unit.Unit();
    }
    if (refused == kExitSuccess) {
        const std::string usbSerial = BoxSerialOf(name, usb);
        const std::string box = !usbSerial.empty() ? usbSerial : !label.empty() ? label : record.Trace().serial;
        refused = lot->records->Started(record, box, lost);
    }
    if (refused != kExitSuccess) {
        Ended(name, false, 0, "Error: " + lost, "");  // not flashed: nothing would show it was
        return;
    }
    {
        std::lock_guard lock(mutex_);
        tile.serial = unit.Serial().empty() ? unit.Unit() : unit.Serial();
    }
    GangBox box;
    box.linkName = name;
    box.status = &record.Status();
    box.options.usbDriver = settings_.usbDriver;
    box.options.answerTimeoutMs = static_cast<std::uint32_t>(settings_.answerTimeoutSeconds * 1000.0 + 0.5);
    box.options.cancelRequested = [&job] { return job.cancel.load(); };
    std::string openHint;
    box.options.openFailed = [&openHint](const OpenFailure& failure) {
        const OpenFailureFacts facts = FactsOf(failure);
        openHint = DescribeOpenFailure(facts, true);
        if (facts.driverMissing && !openHint.empty()) {
            openHint += " as COMn under \"Ports:\"";
        }
    };
    if (units_) {
        box.ownImage = lot->image.bytes;  // its own copy, its number written in
        units_->Personalise(unit, box.ownImage.data(), static_cast<std::uint32_t>(box.ownImage.size()));
        record.NoteImage(static_cast<std::uint32_t>(box.ownImage.size()), lot->image.sourceKind,
                         Sha256Hex(box.ownImage.data(), box.ownImage.size()));
    }
    box.options = record.Hooked(std::move(box.options));
    const GangBoxResult result = RunGangDownload(lot->image, {box}).front();
    if (lot->records->Ended(record.Finish(result.outcome, result.seconds, usb), lost) != kExitSuccess) {
        lost = "Error: " + lost;
    }
    // A box whose record is lost is not counted as passed: nothing would show it was flashed.
    const bool pass = result.outcome == DownloadOutcome::Success && lost.empty();
    Ended(name, pass, result.seconds,
          pass                        ? std::string()
          : !result.lastError.empty() ? result.lastError
                                      : lost,
          openHint);
}

void StationLogic::ScanLabel(const std::string& typed) {
    // Blanks typed around a label are no part of it; a blank scan is no label.
    const auto first = typed.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return;
    }
    std::lock_guard lock(mutex_);
    labels_.push_back(typed.substr(first, typed.find_last_not_of(" \t") - first + 1));
}

std::vector<std::string> StationLogic::WaitingLabels() const {
    std::lock_guard lock(mutex_);
    return {labels_.begin(), labels_.end()};
}

std::string StationLogic::TakeNotice() {
    std::lock_guard lock(mutex_);
    return std::exchange(notice_, std::string());
}

void StationLogic::Ended(const std::string& name, bool pass, double seconds, const std::string& error,
                         const std::string& openHint) {
    std::lock_guard lock(mutex_);
    Tile& tile = tiles_[name];
    tile.running = false;
    tile.seconds = seconds;
    if (!tile.present) {
        tile = EmptyTile(name, false);  // removed while it ran: nothing is left to show on it
    } else {
        tile.result = pass ? Tile::Result::Pass : Tile::Result::Fail;
        tile.errorLine = error.empty() && !pass ? tile.stage : error;
        tile.openHint = openHint;
    }
    (pass ? counters_.passed : counters_.failed) += 1;
    counters_.lastResults.push_front((pass ? "PASS " : "FAIL ") + name);
    if (counters_.lastResults.size() > kLastResults) {
        counters_.lastResults.pop_back();
    }
}

std::vector<Tile> StationLogic::Tiles() const {
    std::lock_guard lock(mutex_);
    std::vector<Tile> tiles;
    for (const auto& [name, tile] : tiles_) {
        tiles.push_back(tile);
        if (tile.running) {
            tiles.back().seconds = static_cast<std::uint32_t>(clock_.TickMs() - tile.startedMs) / 1000.0;
        }
    }
    return tiles;
}

LotCounters StationLogic::Counters() const {
    std::lock_guard lock(mutex_);
    LotCounters counters = counters_;
    if (lotRunning_ || counters.Total() > 0) {
        counters.elapsedSeconds = static_cast<std::uint32_t>(clock_.TickMs() - lotStartMs_) / 1000.0;
    }
    return counters;
}

int StationLogic::Running() const {
    std::lock_guard lock(mutex_);
    int running = 0;
    for (const auto& [name, tile] : tiles_) {
        running += tile.running ? 1 : 0;
    }
    return running;
}

bool StationLogic::LotComplete() const {
    std::lock_guard lock(mutex_);
    return settings_.count > 0 && counters_.Total() >= settings_.count;
}

void StationLogic::CancelAll() {
    std::map<std::string, std::unique_ptr<Job>> jobs;
    {
        std::lock_guard lock(mutex_);
        lotRunning_ = false;
        cancelling_ = true;
        for (auto& [name, job] : jobs_) {
            job->cancel = true;
        }
        jobs.swap(jobs_);
    }
    jobs.clear();  // joins every thread outside the lock their ends take
}

}  // namespace kestrel::stationapp
