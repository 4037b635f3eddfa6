#pragma once

#include <condition_variable>
#include <mutex>

namespace kestrel {

// The user's wish to stop the running download, and the one place where the
// download's thread waits for the GUI thread. A wait ends when what it waits
// for happened or when a cancel was requested, so that the GUI thread can
// always cancel and then join without either thread waiting for the other.
class DownloadCancel {
public:
    void Request() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requested_ = true;
        }
        changed_.notify_all();
    }

    bool Requested() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requested_;
    }

    // Sets `flag` and wakes the waiters.
    void Complete(bool& flag) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            flag = true;
        }
        changed_.notify_all();
    }

    // Blocks until Complete(flag) or Request(); true when `flag` was completed.
    bool WaitFor(const bool& flag) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return flag || requested_; });
        return flag;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
};

}  // namespace kestrel
