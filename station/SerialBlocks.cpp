#include "station/SerialBlocks.h"

#include <cerrno>
#include <charconv>

#include "station/LotRecords.h"
#include "station/StateFile.h"

namespace kestrel {

namespace {

// The block file's text: the next number to give and the end of the block, "NEXT END"; none left when equal.
bool BlockIn(const std::string& text, std::uint64_t& next, std::uint64_t& end) {
    const char* at = text.data();
    const char* stop = text.data() + text.size();
    const auto number = [&at, stop](std::uint64_t& value) {
        const auto [past, error] = std::from_chars(at, stop, value);
        const bool read = error == std::errc() && past != at;
        at = past;
        return read;
    };
    if (!number(next) || at == stop || *at++ != ' ' || !number(end)) {
        return false;
    }
    while (at != stop && (*at == '\n' || *at == '\r')) {
        ++at;
    }
    return at == stop && next <= end;
}

std::string BlockText(std::uint64_t next, std::uint64_t end) {
    return std::to_string(next) + " " + std::to_string(end) + "\n";
}

}  // namespace

std::string BlockFileOf(const std::string& log, const std::string& sequence) { return log + ".serials-" + sequence; }

std::string SerialBlocks::Prepare(const SerialSequence& sequence, std::unique_ptr<SerialBlocks>& blocks, bool& usage) {
    usage = true;
    if (const std::string problem = SequenceNameProblem(sequence.name); !problem.empty()) {
        return "--serial-counter db:NAME: " + problem;
    }
    if (!RecordDatabaseAvailable()) {
        return "a records database (--db) is not available on this platform";
    }
    if (sequence.database.empty()) {
        return "--serial-counter db:" + sequence.name + " takes its numbers from the database of --db";
    }
    if (sequence.block == 0) {
        return "--serial-block takes 1 or more";
    }
    auto made = std::make_unique<SerialBlocks>();
    made->sequence_ = sequence;
    made->database_ = OpenRecordDatabase(sequence.database);
    const int error = UpdateStateFile(
        sequence.blockFile,
        [](const std::optional<std::string>& text, std::string& next) {
            std::uint64_t at = 0, end = 0;
            if (text && !BlockIn(*text, at, end)) {
                return EINVAL;
            }
            next = text ? *text : BlockText(0, 0);
            return 0;
        },
        sequence.wait);
    if (error != 0) {
        usage = error == EINVAL;
        return "cannot use the serial numbers' block file " + sequence.blockFile + ": " +
               (error == EINVAL ? std::string("it holds no block") : DescribeRecordError(error));
    }
    // Unreachable: the station gives what is left of its block, and asks again when that runs out.
    const DatabaseResult result = made->database_->MakeSequence(sequence.name, sequence.first, sequence.block);
    made->sequenceMade_ = static_cast<bool>(result);
    if (result.state == DatabaseState::Refused) {
        return "the database refused the sequence " + sequence.name + ": " + result.message;
    }
    blocks = std::move(made);
    return {};
}

int SerialBlocks::Take(std::size_t count, const std::function<bool(std::size_t index, std::uint64_t number)>& fits,
                       std::vector<std::uint64_t>& numbers, std::uint64_t& unfit, std::string& why) {
    return UpdateStateFile(
        sequence_.blockFile,
        [&](const std::optional<std::string>& text, std::string& next) {
            std::uint64_t at = 0, end = 0;
            if (text && !BlockIn(*text, at, end)) {
                why = "the block file " + sequence_.blockFile + " holds no block";
                return EINVAL;
            }
            numbers.clear();
            while (numbers.size() < count) {
                if (at == end) {
                    // Under the file's lock: stations sharing the file take one block, not one each.
                    std::uint64_t first = 0, size = 0;
                    DatabaseResult taken;
                    if (!sequenceMade_) {
                        // Unreachable when the lot began: the sequence may be missing still.
                        taken = database_->MakeSequence(sequence_.name, sequence_.first, sequence_.block);
                        sequenceMade_ = static_cast<bool>(taken);
                    }
                    taken = taken ? database_->TakeBlock(sequence_.name, first, size) : taken;
                    if (!taken) {
                        why = std::string("its block is used up and the database ") +
                              (taken.state == DatabaseState::Refused ? "refused another" : "cannot be reached") + " (" +
                              taken.message + ")";
                        return ENOTCONN;
                    }
                    at = first;
                    end = first + size;
                }
                if (!fits(numbers.size(), at)) {
                    unfit = at;
                    return EOVERFLOW;
                }
                numbers.push_back(at++);
            }
            // Written to the disk before any of these numbers reaches a box.
            next = BlockText(at, end);
            return 0;
        },
        sequence_.wait);
}

}  // namespace kestrel
