#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "station/LogChain.h"

namespace kestrel {

// Whether this build can reach a records database at all (Linux: libpq).
bool RecordDatabaseAvailable();

// What became of a call on the database.
enum class DatabaseState {
    Ready,        // connected, the schema as this tool writes it
    Unreachable,  // no answer, or the link broke: the records wait in the log
    Refused,      // the server answered and refused us: credentials, database, rights, schema
};

struct DatabaseResult {
    DatabaseState state = DatabaseState::Ready;
    std::string message;  // why, for a person; empty when Ready
    explicit operator bool() const { return state == DatabaseState::Ready; }
};

// A record as the database keeps it, for a report.
struct StoredRecord {
    std::string text;  // as the log held it, chain lines included
    std::string sha256;
    std::string prev;
};

// The factory's records database. One thread uses an instance at a time.
class RecordDatabase {
public:
    virtual ~RecordDatabase() = default;
    // Connects within a short bound and makes or migrates the schema when it is older than this tool's.
    virtual DatabaseResult Connect() = 0;
    // Stores the records the database lacks, in the order given, in one transaction; `stored` gets how many
    // were new. A record without its own hash is passed over.
    virtual DatabaseResult Store(const std::vector<LogRecordText>& records, std::size_t& stored) = 0;
    // The records of `lot` (empty: every lot) that started at or after `since` (an ISO 8601 date or time;
    // empty: all), in the order they were stored.
    virtual DatabaseResult Fetch(const std::string& lot, const std::string& since,
                                 std::vector<StoredRecord>& records) = 0;
    // Whether a box with `label` passed at any station, as the records stored so far say.
    virtual DatabaseResult LabelPassed(const std::string& label, bool& passed) = 0;
    // Makes the sequence `name` (see SequenceNameProblem) when it is missing, counting from `first` in steps of
    // `block`: each step is one station's block of serial numbers.
    virtual DatabaseResult MakeSequence(const std::string& name, std::uint64_t first, std::uint64_t block) = 0;
    // Takes the next block of the sequence `name` in one statement: `count` numbers from `first`. The block is
    // the sequence's own step, whatever step the station asked for when it was made.
    virtual DatabaseResult TakeBlock(const std::string& name, std::uint64_t& first, std::uint64_t& count) = 0;
    // Drops the connection; the next call connects again.
    virtual void Close() = 0;
    // The database named without its password, for a message.
    virtual std::string Name() const = 0;
};

// The database at `url` (a connection URI or keyword string); not connected yet. Null when this build has none.
std::unique_ptr<RecordDatabase> OpenRecordDatabase(const std::string& url);

// Whether `text` names a database rather than a file: a postgresql:// or postgres:// URI, or a libpq keyword
// string ("host=db dbname=kestrel") that names no file there is.
bool NamesDatabase(const std::string& text);

// Empty when `name` may name a sequence of serial numbers: letters, digits and '_', not beginning with a digit,
// at most 63 bytes (the server's limit); else why not.
std::string SequenceNameProblem(const std::string& name);

}  // namespace kestrel
