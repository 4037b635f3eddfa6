#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

// The stages whose progress a front end may show beside the status lines.
enum class ProgressStage { WritingData, ReadingBack };

// Where a download reports: one plain text line per event, in order. The
// dialog, the command line and the tests each implement it.
class StatusList {
public:
    virtual ~StatusList() = default;

    // Adds `line` exactly as given as the new last line.
    virtual void AppendStatus(const std::string& line) = 0;
    // Removes every line.
    virtual void Clear() = 0;

    // Bytes of `total` done so far in `stage`; called often, from the download's thread.
    virtual void Progress(ProgressStage /*stage*/, std::uint32_t /*done*/, std::uint32_t /*total*/) {}
    // The workflow asks for this after each of its own lines: a front end that
    // paints lines asynchronously makes the newest line visible before returning.
    virtual void RepaintNow() {}
    // Re-applies the list's scroll rule without adding a line.
    virtual void ApplyScrollRule() {}
};

}  // namespace kestrel
