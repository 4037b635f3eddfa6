#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "session/StatusList.h"

namespace kestrel {

// Keeps every line in memory: the tests' status list, and the record a front end
// keeps of its last download.
class RecordingStatusList : public StatusList {
public:
    void AppendStatus(const std::string& line) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(line);
    }
    void Clear() override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace kestrel
