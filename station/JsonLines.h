#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "base/Clock.h"
#include "session/DownloadWorkflow.h"
#include "session/ForwardingStatusList.h"
#include "station/TraceFields.h"

namespace kestrel {

// `text` as a JSON string literal, quotes included. Valid UTF-8 passes through;
// any other byte above 0x7F is taken as Latin-1, as the status lines are single-byte text.
std::string JsonString(const std::string& text);

// One JSON object, field by field, in the order added.
class JsonObject {
public:
    JsonObject& Add(const char* key, const std::string& value);
    JsonObject& Add(const char* key, const char* value);
    JsonObject& Add(const char* key, std::int64_t value);
    // Three decimals; a value that is not finite becomes null.
    JsonObject& Add(const char* key, double value);
    JsonObject& AddNull(const char* key);
    JsonObject& AddBool(const char* key, bool value);
    std::string Text() const { return text_ + "}"; }

private:
    void Key(const char* key);
    std::string text_ = "{";
};

// Writes whole lines to one stream, one writer at a time, flushed at once: the
// boxes of a gang report on threads of their own into the same stream.
class JsonLineWriter {
public:
    explicit JsonLineWriter(std::ostream& out) : out_(out) {}
    void WriteLine(const std::string& line);

private:
    std::mutex mutex_;
    std::ostream& out_;
};

// The outcome's name in reports: "success", "link-failed", ... "cancelled".
const char* OutcomeName(DownloadOutcome outcome);

// A status list that also writes one JSON object per line for each status line
// ("event":"status"), each progress step ("progress": stage, bytes done, total,
// rate in bytes a second, seconds left) and, at the end, the result. Every
// object carries the layout's "schema", "port" when one is given, "t", the
// seconds since the list was made, and the trace: operator, station, lot, attempt.
class JsonLinesStatusList : public ForwardingStatusList {
public:
    // `inner` (may be null) receives every call as well.
    JsonLinesStatusList(JsonLineWriter& writer, StatusList* inner, std::string port = {}, Clock& clock = SteadyClock());

    void AppendStatus(const std::string& line) override;
    void Progress(ProgressStage stage, std::uint32_t done, std::uint32_t total) override;

    // "event":"result" with the outcome, the exit status the front end gives
    // it, the image's SHA-256 (null when no image was built) and the seconds taken.
    void Result(DownloadOutcome outcome, int exitStatus, const std::string& imageSha256, double seconds);
    // The same for a download that never began (a box that did not come): its outcome by name.
    void Result(const std::string& outcome, int exitStatus, const std::string& imageSha256, double seconds);
    // "event":"started" as a box's download begins, with the file by its path.
    void Started(const std::string& filePath);
    // What every later object carries; the attempt is known once the started record is written.
    void SetTrace(const TraceFields& trace) { trace_ = trace; }

private:
    JsonObject Event(const char* name);

    JsonObject& AddApproval(JsonObject& object) const;

    JsonLineWriter& writer_;
    std::string port_;
    TraceFields trace_;
    Clock& clock_;
    std::uint32_t startMs_;
    std::optional<ProgressStage> stage_;
    std::uint32_t stageStartMs_ = 0;
};

}  // namespace kestrel
