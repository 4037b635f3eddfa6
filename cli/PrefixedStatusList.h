#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "session/StatusList.h"

namespace kestrel::cli {

// A gang's lines on stdout, each led by its box's port, whole lines at a time.
class PrefixedStatusList : public StatusList {
public:
    PrefixedStatusList(std::mutex& mutex, std::string port) : mutex_(mutex), port_(std::move(port)) {}
    void AppendStatus(const std::string& line) override {
        std::lock_guard lock(mutex_);
        std::fprintf(stdout, "%s: %s\n", port_.c_str(), line.c_str());
        std::fflush(stdout);
    }
    void Clear() override {}

private:
    std::mutex& mutex_;
    std::string port_;
};

}  // namespace kestrel::cli
