#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// Something in an S-record file that the download path takes without a word,
// yet a careful user wants to hear of: a checksum that does not match, an S5
// count that disagrees with the data records, data records that overlap.
struct SRecordFinding {
    std::uint32_t line = 0;  // counted from 1
    std::string text;
};

// Looks at the same lines the reader takes (up to and including S8) and
// reports every such finding in line order. Lines the reader refuses are left
// to the reader's own error line.
std::vector<SRecordFinding> CheckSRecords(const std::uint8_t* source, std::uint32_t sourceLength);

}  // namespace kestrel
