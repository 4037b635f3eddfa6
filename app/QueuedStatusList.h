#pragma once

#include <memory>
#include <mutex>

#include <QObject>

#include "app/DownloadCancel.h"
#include "session/StatusList.h"

namespace kestrel {

// A StatusList for the download's thread that hands every call to `target`,
// a StatusList of the thread that `context` lives in, in the order of the
// calls. Called on that thread itself, it calls `target` directly. `context`
// and `target` outlive the download's thread.
class QueuedStatusList : public StatusList {
public:
    QueuedStatusList(QObject& context, StatusList& target, std::shared_ptr<DownloadCancel> cancel);

    void AppendStatus(const std::string& line) override;
    void Clear() override;
    // Only the newest value is handed over: a download reports far more often
    // than a bar can be painted.
    void Progress(ProgressStage stage, std::uint32_t done, std::uint32_t total) override;
    // Waits until the target has painted, or until the download is cancelled.
    void RepaintNow() override;
    void ApplyScrollRule() override;

private:
    struct PendingProgress {
        std::mutex mutex;
        bool queued = false;
        ProgressStage stage = ProgressStage::WritingData;
        std::uint32_t done = 0;
        std::uint32_t total = 0;
    };

    bool OnTargetThread() const;
    // Runs `call` on the target's thread after every call handed over before it.
    template <typename Call>
    void Hand(Call&& call);

    QObject& context_;
    StatusList& target_;
    std::shared_ptr<DownloadCancel> cancel_;
    std::shared_ptr<PendingProgress> progress_ = std::make_shared<PendingProgress>();
};

}  // namespace kestrel
