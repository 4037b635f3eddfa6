#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "session/DownloadWorkflow.h"

namespace kestrel {

// Runs one download at a time on a thread of its own, so that the window stays
// responsive while the box is flashed. What the download reports is queued;
// the front end's thread drains the queue into its own status list when woken.
class DownloadWorker {
public:
    using Runner = std::function<DownloadOutcome(const std::string& linkName, const std::string& filePath,
                                                 StatusList& status, const SessionOptions& options)>;
    // Called on the download's thread when the queue gets something while it
    // was empty: the front end then calls Drain on its own thread.
    using Wake = std::function<void()>;

    // How a download ended; no outcome when it ended by an exception. What
    // did not open, and why, as the session reported it.
    struct Ended {
        std::optional<DownloadOutcome> outcome{};
        std::optional<OpenFailure> openFailure{};
    };

    explicit DownloadWorker(Wake wake);
    // Cancels a running download and waits for its end; what it still queued is dropped.
    ~DownloadWorker();
    DownloadWorker(const DownloadWorker&) = delete;
    DownloadWorker& operator=(const DownloadWorker&) = delete;

    // False while a download runs.
    bool Start(Runner runner, std::string linkName, std::string filePath);
    // Started and its end not drained yet.
    bool Running() const { return running_; }
    // Ends the download's waits, also a wait for a paint that will not come.
    void Cancel();
    // Waits at most `bound` for the download's end to be queued, for a front
    // end that cannot return to its loop first (Windows ending the session);
    // true once it is. After a Cancel it comes within one of the download's bounded waits.
    bool AwaitEnd(std::chrono::milliseconds bound);

    // Hands the queued calls to `target` in the order they were made; the
    // download's end comes last, after its thread has been joined.
    std::optional<Ended> Drain(StatusList& target);

private:
    struct Call {
        enum class Kind { Append, Stage, Clear, Progress, Scroll, Repaint, End } kind;
        std::string line{};
        SessionStage sessionStage = SessionStage::OpeningLink;
        ProgressStage stage = ProgressStage::WritingData;
        std::uint32_t done = 0;
        std::uint32_t total = 0;
        std::uint64_t repaint = 0;  // the number of the repaint asked for
        std::optional<DownloadOutcome> outcome{};
        std::optional<OpenFailure> openFailure{};
    };
    class Queue;

    void Push(Call call);
    // Blocks the download's thread until the front end has painted, or a cancel.
    void AwaitRepaint(std::stop_token stop);

    Wake wake_;
    bool running_ = false;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::vector<Call> calls_;
    std::uint64_t repaintsAsked_ = 0;
    std::uint64_t repaintsDone_ = 0;
    bool endQueued_ = false;
    std::jthread thread_;  // last: joined before the members it uses are gone
};

}  // namespace kestrel
