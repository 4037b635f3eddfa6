#include "station-app/StationLogic.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "links/UsbDriver.h"
#include "station/ApprovedManifest.h"
#include "station/OpenFailureHint.h"
#include "station/RecordedDownload.h"
#include "station/SessionLog.h"

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

// Firmware that is not in the manifest is not flashed; the records name the manifest that let it through.
bool StationLogic::CheckApproved(std::string& error) {
    ApprovedManifest manifest;
    if (ReadApprovedManifest(settings_.manifest, manifest)) {
        error = "cannot read the approved manifest " + settings_.manifest;
        return false;
    }
    std::string digest;
    if (const int why = FileSha256(settings_.firmware, digest); why != 0) {
        error = settings_.firmware + ": " + std::strerror(why);
        return false;
    }
    if (!manifest.Lists(digest)) {
        error = settings_.firmware + " is not in the approved manifest: not flashed";
        return false;
    }
    std::error_code ignored;
    const auto absolute = std::filesystem::absolute(settings_.manifest, ignored);
    settings_.trace.manifest = ignored ? settings_.manifest : absolute.lexically_normal().string();
    settings_.trace.approvedSha256 = digest;
    return true;
}

StationLogic::StationLogic(LotSettings settings, Clock& clock) : settings_(std::move(settings)), clock_(clock) {}

StationLogic::~StationLogic() { CancelAll(); }

bool StationLogic::StartLot(std::string& error) {
    if (!settings_.logFile.empty()) {
        if (const int why = CheckSessionLog(settings_.logFile); why != 0) {
            error = "cannot write the log " + settings_.logFile + ": " + std::strerror(why);
            return false;
        }
    }
    if (!settings_.manifest.empty() && !CheckApproved(error)) {
        return false;
    }
    SessionLogRecorder lines(nullptr);
    GangImage image;
    if (PrepareGangImage(settings_.firmware, lines, image) != DownloadOutcome::Success) {
        error = lines.Lines().empty() ? "cannot read " + settings_.firmware : lines.Lines().back().text;
        return false;
    }
    std::lock_guard lock(mutex_);
    image_ = std::move(image);
    preparedLines_ = lines.Lines();
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
    Tile& tile = tiles_[name];
    tile.running = true;
    tile.stage.clear();
    tile.startedMs = clock_.TickMs();
    auto& job = jobs_[name];
    if (job) {
        job->thread = {};  // the box's earlier download has ended: its thread is only joined
    }
    job = std::make_unique<Job>();
    Job* running = job.get();
    running->thread = std::jthread([this, running, name, &tile] { RunJob(*running, name, tile); });
}

// A map's elements stay where they are, so `tile` may be kept while others come and go.
void StationLogic::RunJob(Job& job, const std::string& name, Tile& tile) {
    TileStatus status(mutex_, tile);
    SessionRecordBuilder record(name, settings_.firmware, &status);
    // The lines of the one reading of the file belong to every box's record, as in a gang of kestrel-flash.
    record.NoteEarlierLines(preparedLines_);
    record.NoteImage(static_cast<std::uint32_t>(image_.bytes.size()), image_.sourceKind, image_.sha256);
    record.Trace() = settings_.trace;
    const bool logging = !settings_.logFile.empty();
    std::string logError;
    if (logging) {
        SessionRecord started = record.StartRecord();
        if (const int error = AppendStartedRecord(settings_.logFile, started); error != 0) {
            logError = std::string("Error: the record is lost: ") + std::strerror(error);
        }
        record.Trace().attempt = started.trace.attempt;
    }
    GangBox box;
    box.linkName = name;
    box.status = &record.Status();
    box.options.usbDriver = settings_.usbDriver;
    box.options.answerTimeoutMs = static_cast<std::uint32_t>(settings_.answerTimeoutSeconds * 1000.0 + 0.5);
    box.options.cancelRequested = [&job] { return job.cancel.load(); };
    std::string openHint;
    box.options.openFailed = [&openHint](const OpenFailure& failure) {
        openHint = DescribeOpenFailure(failure, HintReader::Dialog);
    };
    box.options = record.Hooked(std::move(box.options));
    const GangBoxResult result = RunGangDownload(image_, {box}).front();
    if (logging) {
        UsbDriver& usb = settings_.usbDriver != nullptr ? *settings_.usbDriver : SystemUsbDriver();
        if (const int error =
                AppendSessionRecord(settings_.logFile, record.Finish(result.outcome, result.seconds, usb));
            error != 0) {
            logError = std::string("Error: the record is lost: ") + std::strerror(error);
        }
    }
    // A box whose record is lost is not counted as passed: nothing would show it was flashed.
    const bool pass = result.outcome == DownloadOutcome::Success && logError.empty();
    Ended(name, pass, result.seconds,
          pass                        ? std::string()
          : !result.lastError.empty() ? result.lastError
                                      : logError,
          openHint);
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
        for (auto& [name, job] : jobs_) {
            job->cancel = true;
        }
        jobs.swap(jobs_);
    }
    jobs.clear();  // joins every thread outside the lock their ends take
}

}  // namespace kestrel::stationapp
