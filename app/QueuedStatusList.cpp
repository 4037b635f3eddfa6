#include "app/QueuedStatusList.h"

#include <QMetaObject>
#include <QThread>

namespace kestrel {

QueuedStatusList::QueuedStatusList(QObject& context, StatusList& target, std::shared_ptr<DownloadCancel> cancel)
    : context_(context), target_(target), cancel_(std::move(cancel)) {}

bool QueuedStatusList::OnTargetThread() const { return QThread::currentThread() == context_.thread(); }

template <typename Call>
void QueuedStatusList::Hand(Call&& call) {
    // Queued calls to one receiver from one thread are delivered in order; when
    // the receiver is gone, Qt drops them, so `target_` is never used after it.
    QMetaObject::invokeMethod(&context_, std::forward<Call>(call), Qt::QueuedConnection);
}

void QueuedStatusList::AppendStatus(const std::string& line) {
    if (OnTargetThread()) {
        target_.AppendStatus(line);
        return;
    }
    Hand([&target = target_, line] { target.AppendStatus(line); });
}

void QueuedStatusList::Clear() {
    if (OnTargetThread()) {
        target_.Clear();
        return;
    }
    Hand([&target = target_] { target.Clear(); });
}

void QueuedStatusList::ApplyScrollRule() {
    if (OnTargetThread()) {
        target_.ApplyScrollRule();
        return;
    }
    Hand([&target = target_] { target.ApplyScrollRule(); });
}

void QueuedStatusList::Progress(ProgressStage stage, std::uint32_t done, std::uint32_t total) {
    if (OnTargetThread()) {
        target_.Progress(stage, done, total);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(progress_->mutex);
        progress_->stage = stage;
        progress_->done = done;
        progress_->total = total;
        if (progress_->queued) {
            return;  // the hand-over already on its way takes the new value
        }
        progress_->queued = true;
    }
    Hand([&target = target_, pending = progress_] {
        ProgressStage newestStage;
        std::uint32_t newestDone;
        std::uint32_t newestTotal;
        {
            std::lock_guard<std::mutex> lock(pending->mutex);
            pending->queued = false;
            newestStage = pending->stage;
            newestDone = pending->done;
            newestTotal = pending->total;
        }
        target.Progress(newestStage, newestDone, newestTotal);
    });
}

void QueuedStatusList::RepaintNow() {
    if (OnTargetThread()) {
        target_.RepaintNow();
        return;
    }
    if (cancel_->Requested()) {
        return;
    }
    auto painted = std::make_shared<bool>(false);
    Hand([&target = target_, cancel = cancel_, painted] {
        target.RepaintNow();
        cancel->Complete(*painted);
    });
    cancel_->WaitFor(*painted);
}

}  // namespace kestrel
