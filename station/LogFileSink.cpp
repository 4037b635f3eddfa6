#include "station/LogFileSink.h"

#include "station/LogChain.h"

namespace kestrel {

LogFileSink::LogFileSink(std::string path, std::string lot, LockWait wait, bool labels)
    : path_(std::move(path)), lot_(std::move(lot)), wait_(std::move(wait)), labels_(labels), attempts_(lot_) {
    if (labels) {
        attempts_.TrackLabels();
    }
}

int LogFileSink::Open(std::string& notice) {
    std::lock_guard lock(mutex_);
    std::string tail;
    const int error = AppendChained(
        path_,
        [this, &tail](std::uint64_t size, const LogReader& read) {
            read(read_, size, [this](std::string_view piece) { attempts_.Read(piece); });
            read(size - std::min<std::uint64_t>(size, kChainTailBytes), size,
                 [&tail](std::string_view piece) { tail += piece; });
            read_ = size;
            return std::string();
        },
        wait_);
    if (error == 0 && !tail.empty() && LastChainHash(tail) == kChainStart) {
        notice = Name() +
                 " ends with a record that carries no chain (written by an older version, or cut "
                 "short): the records appended now start a chain of their own";
    }
    return error;
}

int LogFileSink::Append(SessionRecord& record, bool numbered) {
    std::lock_guard lock(mutex_);
    std::uint64_t end = 0;
    const int error = AppendChained(
        path_,
        [&](std::uint64_t size, const LogReader& read) {
            // Another process's records since the last look count too.
            read(std::min(read_, size), size, [this](std::string_view piece) { attempts_.Read(piece); });
            if (numbered) {
                record.trace.attempt = record.box.empty() ? 0 : attempts_.Next(record.box);
            }
            std::string text = ChainedToTail(record, size, read);
            end = size + text.size();
            return text;
        },
        wait_);
    // What this process wrote is counted already; a record not written counts nothing.
    if (error == 0) {
        read_ = end;
        if (!record.isStart && !record.trace.label.empty() && record.exitStatus == 0 && record.outcome == "success") {
            attempts_.NotePassed(record.trace.label);
        }
    } else if (numbered && record.trace.attempt > 0) {
        attempts_ = AttemptIndex(lot_);
        if (labels_) {
            attempts_.TrackLabels();
        }
        read_ = 0;
    }
    return error;
}

int LogFileSink::LabelPassed(const std::string& label, std::string& where) {
    std::lock_guard lock(mutex_);
    const int error = AppendChained(
        path_,
        [this](std::uint64_t size, const LogReader& read) {
            read(std::min(read_, size), size, [this](std::string_view piece) { attempts_.Read(piece); });
            read_ = size;
            return std::string();
        },
        wait_);
    where = error == 0 && attempts_.LabelPassed(label) ? Name() : std::string();
    return error;
}

int LogFileSink::AppendStarted(SessionRecord& record) {
    record.isStart = true;
    return Append(record, true);
}

int LogFileSink::AppendResult(const SessionRecord& record) {
    SessionRecord copy = record;
    return Append(copy, false);
}

}  // namespace kestrel
