#pragma once

#include <mutex>
#include <string>
#include <utility>
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
    void StageStarted(SessionStage stage) override {
        std::lock_guard<std::mutex> lock(mutex_);
        stages_.emplace_back(stage, lines_.size());
    }
    void Clear() override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
        stages_.clear();
    }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    // Each stage with the number of lines before it was told (its line included).
    std::vector<std::pair<SessionStage, std::size_t>> stages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return stages_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::pair<SessionStage, std::size_t>> stages_;
};

}  // namespace kestrel
