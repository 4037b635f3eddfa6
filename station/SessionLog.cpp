#include "station/SessionLog.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string_view>

#include "station/LogChain.h"
#include "station/SessionLogFile.h"

namespace kestrel {

namespace {

std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    const std::tm utc = UtcTime(seconds);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis < 0 ? 0 : millis));
    return text;
}

std::string Offset(std::uint32_t ms) {
    char text[24];
    std::snprintf(text, sizeof text, "+%u.%03us", ms / 1000, ms % 1000);
    return text;
}

std::string OrUnknown(const std::string& text) { return text.empty() ? "unknown" : text; }
std::string OrNone(const std::string& text) { return text.empty() ? "none" : text; }

}  // namespace

// A field may carry any byte a file or device name can: a newline would forge a
// line of the record, an ESC would drive the terminal of whoever reads the log.
std::string EscapedField(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\t') {
            escaped += "\\t";
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", byte);
            escaped += code;
        }
    }
    return escaped;
}

namespace {

std::string Escaped(const std::string& text) { return EscapedField(text); }

}  // namespace

int LockWithin(const std::function<int()>& tryLock, const LockWait& wait) {
    // Short steps: a cancel is seen at once, and a lock let go is taken soon after.
    constexpr std::uint32_t kStepMs = 50;
    Clock& clock = wait.clock != nullptr ? *wait.clock : SteadyClock();
    const std::uint32_t startMs = clock.TickMs();
    for (;;) {
        if (const int result = tryLock(); result != EWOULDBLOCK) {
            return result;
        }
        if (wait.cancelled && wait.cancelled()) {
            return ECANCELED;
        }
        if (clock.TickMs() - startMs >= wait.boundMs) {
            return ETIMEDOUT;
        }
        clock.SleepFor(kStepMs);
    }
}

int AppendChained(const std::string& path, const LogComposer& compose, const LockWait& wait) {
    // The lock on the file serialises processes; this one serialises the threads of one process, which
    // on some systems share a lock on a file.
    static std::mutex appending;
    std::lock_guard lock(appending);
    return AppendUnderLock(path, compose, wait);
}

std::string ChainedToTail(const SessionRecord& record, std::uint64_t size, const LogReader& read) {
    std::string tail;
    read(size - std::min<std::uint64_t>(size, kChainTailBytes), size,
         [&tail](std::string_view piece) { tail += piece; });
    return ChainRecord(FormatSessionRecord(record), LastChainHash(tail));
}

SessionLogRecorder::SessionLogRecorder(StatusList* inner, Clock& clock)
    : ForwardingStatusList(inner), clock_(clock), startMs_(clock.TickMs()) {}

void SessionLogRecorder::AppendStatus(const std::string& line) {
    lines_.push_back({static_cast<std::uint32_t>(clock_.TickMs() - startMs_), line});
    ForwardingStatusList::AppendStatus(line);
}

std::string FormatSessionRecord(const SessionRecord& record) {
    std::string text = "=== " + UtcTimestamp(record.started) + " Kestrel Loader " + Escaped(record.toolVersion) + "\n";
    text += "schema: " + std::to_string(kRecordSchema) + "\n";
    text += std::string("record: ") + (record.isStart ? "started" : "result") + "\n";
    text += "operator: " + Escaped(record.trace.operatorName) + "\n";
    text += "station: " + Escaped(record.trace.station) + "\n";
    text += "lot: " + Escaped(record.trace.lot) + "\n";
    text += "attempt: " + std::to_string(record.trace.attempt) + "\n";
    text += "port: " + Escaped(record.port) + "\n";
    text += "identity: " + Escaped(OrUnknown(record.portIdentity)) + "\n";
    text += "box: " + Escaped(OrNone(record.box)) + "\n";
    text += "baud: " + (record.baudRate == 0 ? std::string("none") : std::to_string(record.baudRate)) + "\n";
    text += "file: " + Escaped(record.fileName) + "\n";
    if (record.imageSha256.empty()) {
        text += "image: none\n";
    } else {
        text += "image: " + std::to_string(record.imageSize) + " bytes, sha256 " + record.imageSha256 + "\n";
    }
    if (record.trace.manifest.empty()) {
        text += "approved: none\n";
    } else {
        text += "approved: sha256 " + record.trace.approvedSha256 + " in " + Escaped(record.trace.manifest) + "\n";
    }
    text += "firmware: " +
            (record.trace.firmwareSha256.empty() ? std::string("none") : "sha256 " + record.trace.firmwareSha256) +
            "\n";
    text += "serial: " + Escaped(OrNone(record.trace.serial)) + "\n";
    text += "unit: " + Escaped(OrNone(record.trace.unit)) + "\n";
    text += "label: " + Escaped(OrNone(record.trace.label)) + "\n";
    text += std::string("rework: ") + (record.trace.rework ? "yes" : "no") + "\n";
    for (const auto& line : record.lines) {
        // Quoted, so that the status lines' trailing blanks stay visible.
        text += "line " + Offset(line.atMs) + " \"" + Escaped(line.text) + "\"\n";
    }
    if (!record.isStart) {
        if (!record.reason.empty()) {
            text += "reason: " + Escaped(record.reason) + "\n";
        }
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", record.seconds);
        text += "result: " + Escaped(record.outcome) + ", exit " + std::to_string(record.exitStatus) + ", " + seconds +
                " s\n";
    }
    return text;
}

int AppendSessionRecord(const std::string& path, const SessionRecord& record, const LockWait& wait) {
    return AppendChained(
        path, [&record](std::uint64_t size, const LogReader& read) { return ChainedToTail(record, size, read); }, wait);
}

}  // namespace kestrel
