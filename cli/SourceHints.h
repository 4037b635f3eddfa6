#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "readers/ExtractData.h"

namespace kestrel::cli {

// For a session's sourceRefused: a record type the reader refuses is named on
// `out` with what to do about it; the status line gives only its line.
std::function<void(const ExtractFailure&)> RecordTypeHint(const std::string& file, std::FILE* out);

// A file refused for its size: the limit it passed.
void PrintSizeLimit(const std::string& file, std::uint32_t limit, std::FILE* out);

}  // namespace kestrel::cli
