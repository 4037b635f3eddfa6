#pragma once

#include <functional>
#include <string>

#include "base/UniqueFd.h"

namespace kestrel::emulator {

// Counts the descriptors open on a file through inotify, so that the box tells
// a tool's fresh open from a second opener during a download.
class OpenerWatch {
public:
    // Watches `path` afresh, with no opener counted. False with errno set.
    bool Watch(const std::string& path);
    void Stop();

    // Readable while events wait; -1 when nothing is watched.
    int Fd() const { return inotify_.Get(); }
    int Openers() const { return openers_; }

    // Counts the events that wait, calling `lastClosed` each time the count
    // drops to none. True when an open came while none was counted.
    bool TakeEvents(const std::function<void()>& lastClosed);

private:
    UniqueFd inotify_;
    int openers_ = 0;
};

}  // namespace kestrel::emulator
