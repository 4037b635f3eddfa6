#pragma once

#include <cstdint>
#include <string>

#include "session/StatusList.h"

namespace kestrel {

// Passes every call on to `inner` (may be null). A list that adds something to
// a download's report derives from it, overrides what it adds and calls the
// base there, so that no call is lost on the way to the front end.
class ForwardingStatusList : public StatusList {
public:
    explicit ForwardingStatusList(StatusList* inner) : inner_(inner) {}

    void AppendStatus(const std::string& line) override {
        if (inner_ != nullptr) {
            inner_->AppendStatus(line);
        }
    }
    void Clear() override {
        if (inner_ != nullptr) {
            inner_->Clear();
        }
    }
    void StageStarted(SessionStage stage) override {
        if (inner_ != nullptr) {
            inner_->StageStarted(stage);
        }
    }
    void Progress(ProgressStage stage, std::uint32_t done, std::uint32_t total) override {
        if (inner_ != nullptr) {
            inner_->Progress(stage, done, total);
        }
    }
    void RepaintNow() override {
        if (inner_ != nullptr) {
            inner_->RepaintNow();
        }
    }
    void ApplyScrollRule() override {
        if (inner_ != nullptr) {
            inner_->ApplyScrollRule();
        }
    }

private:
    StatusList* inner_;
};

}  // namespace kestrel
