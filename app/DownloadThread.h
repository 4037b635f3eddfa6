#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/DownloadCancel.h"
#include "session/DownloadWorkflow.h"

namespace kestrel {

// Runs one download at a time on a thread of its own, so that the window
// stays responsive while the box is being flashed.
class DownloadThread {
public:
    using Runner = std::function<DownloadOutcome(const std::string& linkName, const std::string& filePath,
                                                 StatusList& status, const SessionOptions& options)>;
    // Called on the download's thread as its last act; no outcome when the
    // download ended by an exception.
    using Finished = std::function<void(std::optional<DownloadOutcome>)>;

    DownloadThread() = default;
    // Cancels a running download and waits for its end.
    ~DownloadThread();
    DownloadThread(const DownloadThread&) = delete;
    DownloadThread& operator=(const DownloadThread&) = delete;

    // Starts `runner`, whose session polls `cancel`. False while one runs.
    bool Start(Runner runner, std::string linkName, std::string filePath, StatusList& status,
               std::shared_ptr<DownloadCancel> cancel, Finished finished);

    // A download was started and not joined yet.
    bool Running() const { return thread_.joinable(); }
    void Cancel();
    // Waits for the thread's end. Cancel first, unless the thread has finished
    // or is about to: Join does not serve the thread's waits.
    void Join();

private:
    std::shared_ptr<DownloadCancel> cancel_;
    std::thread thread_;
};

}  // namespace kestrel
