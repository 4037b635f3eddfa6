#pragma once

#include <cstdint>

#include "readers/ExtractData.h"

namespace kestrel {

// Two hex characters to one byte, `high` the more significant digit. Never
// fails: a character that is no hex digit still gives some value, which is why
// the reader refuses such lines before it decodes them.
std::uint8_t hexPairToByte(char high, char low);

// Reader for Motorola S-record text with 24-bit addresses (".mot"). Takes S0
// and S5 lines as read, makes one record of every S2 line, and stops at S8.
// A line that is no well-formed record (not starting with 'S', a character
// that is no hex digit, a length other than its count says) is refused.
// Checksums are not verified: files rely on that.
class ExtractDataMOT : public ExtractData {
public:
    int extract(const std::uint8_t* source, RecordList& records, std::uint32_t sourceLength,
                ExtractFailure* failure = nullptr) override;
};

}  // namespace kestrel
