#include "station/AttemptIndex.h"

#include <algorithm>
#include <functional>

#include "station/SessionLog.h"

namespace kestrel {

namespace {

const std::string kStarted = "\nrecord: started\n";
const std::string kAnyRecord = "\nrecord: ";

// The value of the first "key: " line in `text`; empty when none.
std::string_view FieldOf(std::string_view text, std::string_view key) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, end - at);
        if (line.size() >= key.size() + 2 && line.starts_with(key) && line.substr(key.size()).starts_with(": ")) {
            return line.substr(key.size() + 2);
        }
        at = end + 1;
    }
    return {};
}

}  // namespace

AttemptIndex::AttemptIndex(const std::string& lot) : lot_(EscapedField(lot)) {}

void AttemptIndex::Read(std::string_view piece) {
    // A record ends with an empty line; the pieces may cut one anywhere, so
    // only whole records are searched and the rest waits for the next piece.
    if (!partial_.empty()) {
        const std::size_t end = piece.find("\n\n");
        if (end == std::string_view::npos) {
            partial_.append(piece);
            return;
        }
        partial_.append(piece.substr(0, end + 2));
        Search(partial_);
        partial_.clear();
        piece.remove_prefix(end + 2);
    }
    const std::size_t whole = piece.rfind("\n\n");
    const std::size_t searched = whole == std::string_view::npos ? 0 : whole + 2;
    Search(piece.substr(0, searched));
    partial_.assign(piece.substr(searched));
}

void AttemptIndex::Search(std::string_view text) {
    // Only started records count, and most of a log is the lines of results: jump from one to the next.
    static const std::boyer_moore_horspool_searcher started(kStarted.begin(), kStarted.end());
    static const std::boyer_moore_horspool_searcher any(kAnyRecord.begin(), kAnyRecord.end());
    for (auto at = text.begin();;) {
        const auto found = trackLabels_ ? std::search(at, text.end(), any) : std::search(at, text.end(), started);
        if (found == text.end()) {
            return;
        }
        const std::size_t from = static_cast<std::size_t>(found - text.begin()) + 1;
        const std::size_t end = std::min(text.find("\n\n", from), text.size());
        Count(text.substr(from, end - from));
        at = text.begin() + static_cast<std::ptrdiff_t>(end);
    }
}

void AttemptIndex::Count(std::string_view record) {
    if (FieldOf(record, "record") == "result") {
        const std::string_view label = FieldOf(record, "label");
        if (!label.empty() && label != "none" && FieldOf(record, "result").starts_with("success, exit 0,")) {
            passedLabels_.emplace(label);
        }
        return;
    }
    if (FieldOf(record, "lot") != lot_) {
        return;
    }
    if (const std::string_view box = FieldOf(record, "box"); !box.empty() && box != "none") {
        ++downloads_[std::string(box)];
    }
}

bool AttemptIndex::LabelPassed(const std::string& label) const { return passedLabels_.contains(EscapedField(label)); }

void AttemptIndex::NotePassed(const std::string& label) { passedLabels_.insert(EscapedField(label)); }

int AttemptIndex::Next(const std::string& box) { return ++downloads_[EscapedField(box)]; }

}  // namespace kestrel
