#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// Something in an S-record file that a careful user wants to hear of: what the
// download path takes without a word (a checksum that does not match, an S5
// count that disagrees with the data records, data records that overlap, a
// missing S8 end), and, in plain words, what is wrong with a line it refuses.
struct SRecordFinding {
    std::uint32_t line = 0;  // counted from 1
    std::string text;
};

// Looks at the lines as the reader cuts them, up to and including S8, and
// reports every such finding in line order, going on past refused lines.
std::vector<SRecordFinding> CheckSRecords(const std::uint8_t* source, std::uint32_t sourceLength);

}  // namespace kestrel
