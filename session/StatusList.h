#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

// The stages whose progress a front end may show beside the status lines.
enum class ProgressStage { WritingData, ReadingBack };

// The stages a front end may show more of than their line: the link being
// opened, and the wait for the box to answer the synchronisation.
enum class SessionStage { OpeningLink, Synchronising };

// Every line that reports a failure begins so; the session writes the lines,
// so the session says which they are.
inline bool IsErrorLine(const std::string& line) { return line.rfind("Error: ", 0) == 0; }

// Where a download reports: one plain text line per event, in order. The
// dialog, the command line and the tests each implement it.
class StatusList {
public:
    virtual ~StatusList() = default;

    // Adds `line` exactly as given as the new last line.
    virtual void AppendStatus(const std::string& line) = 0;
    // Removes every line.
    virtual void Clear() = 0;

    // Right after the line that begins `stage`: the stage as a value, so that
    // nobody has to recognise it by its line's text.
    virtual void StageStarted(SessionStage /*stage*/) {}
    // Bytes of `total` done so far in `stage`; called often, from the download's thread.
    virtual void Progress(ProgressStage /*stage*/, std::uint32_t /*done*/, std::uint32_t /*total*/) {}
    // The workflow asks for this after each of its own lines: a front end that
    // paints lines asynchronously makes the newest line visible before returning.
    virtual void RepaintNow() {}
    // Re-applies the list's scroll rule without adding a line.
    virtual void ApplyScrollRule() {}
};

}  // namespace kestrel
