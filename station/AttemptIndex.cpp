#include "station/AttemptIndex.h"

#include "station/SessionLog.h"

namespace kestrel {

namespace {

// The value of a "key: " line of `record`, as written (escaped); empty when it has none.
std::string_view FieldOf(std::string_view record, std::string_view key) {
    for (std::size_t at = 0; at < record.size();) {
        const std::size_t end = std::min(record.find('\n', at), record.size());
        const std::string_view line = record.substr(at, end - at);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == ':' &&
            line.substr(key.size()).starts_with(": ")) {
            return line.substr(key.size() + 2);
        }
        at = end + 1;
    }
    return {};
}

}  // namespace

void AttemptIndex::Read(std::string_view piece) {
    // A record ends with an empty line; the pieces may cut one anywhere.
    partial_.append(piece);
    std::size_t start = 0;
    for (std::size_t end; (end = partial_.find("\n\n", start)) != std::string::npos; start = end + 2) {
        Count(std::string_view(partial_).substr(start, end + 1 - start));
    }
    partial_.erase(0, start);
}

void AttemptIndex::Count(std::string_view record) {
    if (FieldOf(record, "record") != "started" || FieldOf(record, "lot") != EscapedField(lot_)) {
        return;
    }
    if (const std::string_view box = FieldOf(record, "box"); !box.empty() && box != "none") {
        ++downloads_[std::string(box)];
    }
}

int AttemptIndex::Next(const std::string& box) { return ++downloads_[EscapedField(box)]; }

}  // namespace kestrel
