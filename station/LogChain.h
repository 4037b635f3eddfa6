#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestrel {

// The hash chain of the session log: each record ends with the SHA-256 of the
// record before it ("prev: ") and its own ("sha256: ", over its text up to and
// with its prev line), so that an edited, removed or reordered record breaks
// the chain where it happened.

// What the first record of a log chains to.
inline const std::string kChainStart(64, '0');

// One record of a log as it stands in the file.
struct LogRecordText {
    std::size_t firstLine = 0;  // from 1
    std::string text;           // from its "=== " line to the empty line that ends it, both included
    std::string Field(const std::string& key) const;  // the value of its first "key: " line; empty when none
    bool Has(const std::string& key) const;
};

// The records of a log, in order. Text after the last whole record (a record
// cut short) is a record of its own, so that it is seen.
std::vector<LogRecordText> SplitLog(const std::string& log);

// `body` (a record without its chain lines and its empty end line) chained to `previous`.
std::string ChainRecord(const std::string& body, const std::string& previous);

// The hash the next record chains to: the last record's own, or the start value
// for an empty log. A last record without a hash of its own chains nothing, so
// the next one starts over and the log shows the break.
// `log` may be the log's last kChainTailBytes alone.
std::string LastChainHash(const std::string& log);
inline constexpr std::size_t kChainTailBytes = 128;

// Whether a record's own hash is that of its text: it was not changed since it was written.
bool RecordHashHolds(const std::string& record);

struct ChainCheck {
    std::size_t records = 0;  // how many records the log holds
    std::size_t older = 0;    // of them, the first ones of the layout before the chain (no schema, no hashes)
    std::size_t broken = 0;   // the first record that does not chain, from 1; 0: intact
    std::size_t line = 0;     // its first line
    std::string reason;
};

// Checks the chain from the first chained record: records of the older
// layout before it are counted apart, anywhere else they break it.
ChainCheck VerifyChain(const std::string& log);

// What a report says of the chain: "chain intact: N records", or where it breaks.
std::string ChainSentence(const ChainCheck& check);

}  // namespace kestrel
