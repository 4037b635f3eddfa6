#include "app/DownloadThread.h"

#include <exception>

namespace kestrel {

DownloadThread::~DownloadThread() {
    Cancel();
    Join();
}

bool DownloadThread::Start(Runner runner, std::string linkName, std::string filePath, StatusList& status,
                           std::shared_ptr<DownloadCancel> cancel, Finished finished) {
    if (Running()) {
        return false;
    }
    cancel_ = cancel ? std::move(cancel) : std::make_shared<DownloadCancel>();
    thread_ = std::thread([runner = std::move(runner), linkName = std::move(linkName), filePath = std::move(filePath),
                           &status, finished = std::move(finished), cancel = cancel_] {
        SessionOptions options;
        options.cancelRequested = [cancel] { return cancel->Requested(); };
        std::optional<DownloadOutcome> outcome;
        try {
            outcome = runner(linkName, filePath, status, options);
        } catch (const std::exception& error) {
            // An exception leaving a thread would end the whole tool; the user
            // learns of it in the list like of every other failure.
            status.AppendStatus(std::string("Error: ") + error.what());
        } catch (...) {
            status.AppendStatus("Error: download aborted");
        }
        finished(outcome);
    });
    return true;
}

void DownloadThread::Cancel() {
    if (cancel_) {
        cancel_->Request();
    }
}

void DownloadThread::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

}  // namespace kestrel
