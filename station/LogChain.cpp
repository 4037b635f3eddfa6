#include "station/LogChain.h"

#include "station/Sha256.h"

namespace kestrel {

namespace {

const std::string kPrev = "prev: ";
const std::string kOwn = "sha256: ";
const std::size_t kHexLength = 64;

std::string Sha256Of(const std::string& text) {
    return Sha256Hex(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

bool IsHash(const std::string& text) {
    return text.size() == kHexLength && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Where the line that starts at `from` ends, past its line feed.
std::size_t LineEnd(const std::string& text, std::size_t from) {
    const std::size_t end = text.find('\n', from);
    return end == std::string::npos ? text.size() : end + 1;
}

}  // namespace

std::string LogRecordText::Field(const std::string& key) const {
    const std::string wanted = key + ": ";
    for (std::size_t at = 0; at < text.size(); at = LineEnd(text, at)) {
        if (text.compare(at, wanted.size(), wanted) == 0) {
            const std::size_t end = LineEnd(text, at);
            return text.substr(at + wanted.size(), end - at - wanted.size() - (text[end - 1] == '\n' ? 1 : 0));
        }
    }
    return {};
}

bool LogRecordText::Has(const std::string& key) const {
    return text.starts_with(key + ": ") || text.find("\n" + key + ": ") != std::string::npos;
}

std::vector<LogRecordText> SplitLog(const std::string& log) {
    std::vector<LogRecordText> records;
    std::size_t line = 1, start = 0, startLine = 1;
    for (std::size_t at = 0; at < log.size(); ++line) {
        const std::size_t end = LineEnd(log, at);
        // An empty line ends a record; one where no record is open is a stray line, kept so that it is seen.
        if (end - at == 1 && log[at] == '\n') {
            records.push_back({startLine, log.substr(start, end - start)});
            start = end;
            startLine = line + 1;
        }
        at = end;
    }
    if (start < log.size()) {
        records.push_back({startLine, log.substr(start)});
    }
    return records;
}

std::string ChainRecord(const std::string& body, const std::string& previous) {
    const std::string chained = body + kPrev + previous + "\n";
    return chained + kOwn + Sha256Of(chained) + "\n\n";
}

std::string LastChainHash(const std::string& log) {
    const std::size_t tail = kOwn.size() + kHexLength + 2;
    if (log.empty()) {
        return kChainStart;
    }
    if (log.size() > tail && log.ends_with("\n\n") &&
        log.compare(log.size() - tail - 1, kOwn.size() + 1, "\n" + kOwn) == 0) {
        const std::string hash = log.substr(log.size() - kHexLength - 2, kHexLength);
        if (IsHash(hash)) {
            return hash;
        }
    }
    return kChainStart;
}

bool RecordHashHolds(const std::string& record) {
    const std::size_t own = record.rfind("\n" + kOwn);
    return own != std::string::npos && record.size() == own + 1 + kOwn.size() + kHexLength + 2 &&
           record.ends_with("\n\n") &&
           Sha256Of(record.substr(0, own + 1)) == record.substr(own + 1 + kOwn.size(), kHexLength);
}

ChainCheck VerifyChain(const std::string& log) {
    const auto records = SplitLog(log);
    ChainCheck check;
    check.records = records.size();
    std::string expected = kChainStart;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::string& text = records[i].text;
        const auto fail = [&](const char* reason) {
            check.broken = i + 1;
            check.line = records[i].firstLine;
            check.reason = reason;
            return check;
        };
        if (i == check.older && !records[i].Has("schema") && !records[i].Has("prev") && records[i].Has("port")) {
            ++check.older;  // written before records were chained: nothing to check, nothing to chain to
            continue;
        }
        const std::size_t own = text.rfind("\n" + kOwn);
        const std::size_t prev = own == std::string::npos ? std::string::npos : text.rfind("\n" + kPrev, own);
        if (!text.ends_with("\n\n") || own == std::string::npos || prev == std::string::npos ||
            own + 1 + kOwn.size() + kHexLength + 2 != text.size()) {
            return fail("it carries no hashes of the chain, or was cut short");
        }
        const std::string previous = text.substr(prev + 1 + kPrev.size(), own - prev - 1 - kPrev.size());
        const std::string hash = text.substr(own + 1 + kOwn.size(), kHexLength);
        if (previous != expected) {
            return fail("it does not follow the record before it (one was removed, inserted or moved)");
        }
        if (Sha256Of(text.substr(0, own + 1)) != hash) {
            return fail("its text was changed");
        }
        expected = hash;
    }
    return check;
}

std::string ChainSentence(const ChainCheck& check) {
    const std::string older =
        check.older == 0 ? "" : " after " + std::to_string(check.older) + " records of an older layout without a chain";
    if (check.broken == 0) {
        return "chain intact: " + std::to_string(check.records - check.older) + " records" + older;
    }
    return "chain broken at record " + std::to_string(check.broken) + " of " + std::to_string(check.records) +
           " (line " + std::to_string(check.line) + "): " + check.reason + "; the figures may include changed records";
}

}  // namespace kestrel
