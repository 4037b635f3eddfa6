#include "app/DownloadWorker.h"

#include <exception>

namespace kestrel {

// The status list the download's thread writes to.
class DownloadWorker::Queue : public StatusList {
public:
    Queue(DownloadWorker& worker, std::stop_token stop) : worker_(worker), stop_(std::move(stop)) {}

    void AppendStatus(const std::string& line) override { worker_.Push({.kind = Call::Kind::Append, .line = line}); }
    void StageStarted(SessionStage stage) override { worker_.Push({.kind = Call::Kind::Stage, .sessionStage = stage}); }
    void Clear() override { worker_.Push({.kind = Call::Kind::Clear}); }
    void Progress(ProgressStage stage, std::uint32_t done, std::uint32_t total) override {
        worker_.Push({.kind = Call::Kind::Progress, .stage = stage, .done = done, .total = total});
    }
    void RepaintNow() override { worker_.AwaitRepaint(stop_); }
    void ApplyScrollRule() override { worker_.Push({.kind = Call::Kind::Scroll}); }

private:
    DownloadWorker& worker_;
    std::stop_token stop_;
};

DownloadWorker::DownloadWorker(Wake wake) : wake_(std::move(wake)) {}

DownloadWorker::~DownloadWorker() {
    Cancel();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool DownloadWorker::Start(Runner runner, std::string linkName, std::string filePath) {
    if (running_) {
        return false;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
        endQueued_ = false;
    }
    running_ = true;
    thread_ = std::jthread([this, runner = std::move(runner), linkName = std::move(linkName),
                            filePath = std::move(filePath)](std::stop_token stop) {
        Queue queue(*this, stop);
        SessionOptions options;
        options.cancelRequested = [stop] { return stop.stop_requested(); };
        std::optional<OpenFailure> openFailure;
        options.openFailed = [&openFailure](const OpenFailure& failure) { openFailure = failure; };
        std::optional<DownloadOutcome> outcome;
        try {
            outcome = runner(linkName, filePath, queue, options);
        } catch (const std::exception& error) {
            // An exception leaving a thread would end the whole tool; the user
            // learns of it in the list like of every other failure.
            queue.AppendStatus(std::string("Error: ") + error.what());
        } catch (...) {
            queue.AppendStatus("Error: download aborted");
        }
        Push({.kind = Call::Kind::End, .outcome = outcome, .openFailure = std::move(openFailure)});
    });
    return true;
}

void DownloadWorker::Cancel() {
    thread_.request_stop();
    changed_.notify_all();
}

bool DownloadWorker::AwaitEnd(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, bound, [this] { return endQueued_; });
}

void DownloadWorker::Push(Call call) {
    bool wasEmpty;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wasEmpty = calls_.empty();
        if (call.kind == Call::Kind::End) {
            endQueued_ = true;
            changed_.notify_all();
        }
        // A download reports far more often than a bar can be painted: only
        // the newest value of a run of progress reports is kept.
        if (call.kind == Call::Kind::Progress && !wasEmpty && calls_.back().kind == Call::Kind::Progress) {
            calls_.back() = std::move(call);
            return;
        }
        calls_.push_back(std::move(call));
    }
    if (wasEmpty && wake_) {
        wake_();
    }
}

void DownloadWorker::AwaitRepaint(std::stop_token stop) {
    std::uint64_t asked;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        asked = ++repaintsAsked_;
    }
    Push({.kind = Call::Kind::Repaint, .repaint = asked});
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, stop, [&] { return repaintsDone_ >= asked; });
}

std::optional<DownloadWorker::Ended> DownloadWorker::Drain(StatusList& target) {
    std::vector<Call> calls;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls.swap(calls_);
    }
    for (auto& call : calls) {
        switch (call.kind) {
            case Call::Kind::Append:
                target.AppendStatus(call.line);
                break;
            case Call::Kind::Stage:
                target.StageStarted(call.sessionStage);
                break;
            case Call::Kind::Clear:
                target.Clear();
                break;
            case Call::Kind::Progress:
                target.Progress(call.stage, call.done, call.total);
                break;
            case Call::Kind::Scroll:
                target.ApplyScrollRule();
                break;
            case Call::Kind::Repaint:
                target.RepaintNow();
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    repaintsDone_ = call.repaint;
                }
                changed_.notify_all();
                break;
            case Call::Kind::End:
                thread_.join();  // its last act was this call
                running_ = false;
                return Ended{call.outcome, call.openFailure};
        }
    }
    return std::nullopt;
}

}  // namespace kestrel
