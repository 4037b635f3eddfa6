#pragma once

#include <cstdio>
#include <string>

#include "session/StatusList.h"

namespace kestrel {

// Writes each line, exactly as appended, on its own line of `out` and flushes it,
// so that a script reading a pipe sees every stage as it happens.
class PrintingStatusList : public StatusList {
public:
    explicit PrintingStatusList(std::FILE* out) : out_(out) {}

    void AppendStatus(const std::string& line) override {
        std::fwrite(line.data(), 1, line.size(), out_);
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    void Clear() override {}

private:
    std::FILE* out_;
};

}  // namespace kestrel
