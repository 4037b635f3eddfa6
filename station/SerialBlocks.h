#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "station/RecordDatabase.h"
#include "station/SessionLogFile.h"

namespace kestrel {

// Where a station's serial numbers come from with --serial-counter db:NAME.
struct SerialSequence {
    std::string name;           // the database's sequence
    std::string database;       // its connection URI or keyword string
    std::string blockFile;      // the station's state: the part of its block not given yet
    std::uint64_t first = 1;    // where the sequence starts, when it is made
    std::uint64_t block = 100;  // its step, when it is made: how many numbers a station takes at once
    LockWait wait{};
};

// The block file that goes with the outbox `log`: each station (each log) holds its own block.
std::string BlockFileOf(const std::string& log, const std::string& sequence);

// Serial numbers from a sequence of the records database, taken in blocks.
// The station keeps what is left of its block in a state file, written to the
// disk before a number of it is given: two stations never give one number
// twice, nor does a station after a kill, and a line goes on through an outage
// while its block lasts. Numbers of a block a station never gives are skipped.
class SerialBlocks {
public:
    // Before any box: the sequence made when missing (a database that refuses is
    // a usage error; one that cannot be reached is asked again when the block
    // runs out) and the block file read. Empty, or why not with `usage` saying whose fault it is.
    static std::string Prepare(const SerialSequence& sequence, std::unique_ptr<SerialBlocks>& blocks, bool& usage);

    // `count` numbers, each one handed to `fits` (false: it does not fit the field,
    // and EOVERFLOW with `unfit`). 0, or the errno with the sentence in `why`
    // (ECANCELED, ETIMEDOUT and the file's errors without one).
    int Take(std::size_t count, const std::function<bool(std::size_t index, std::uint64_t number)>& fits,
             std::vector<std::uint64_t>& numbers, std::uint64_t& unfit, std::string& why);

private:
    SerialSequence sequence_;
    std::unique_ptr<RecordDatabase> database_;
    bool sequenceMade_ = false;  // made, or found made
};

}  // namespace kestrel
