#pragma once

#include <string>
#include <vector>

#include "station/LogChain.h"
#include "station/RecordDatabase.h"

namespace kestrel {

// The records of every station as one log's text: each station's chain in
// its order, one chain after the other in the order each began. `check` says
// whether they are as they were written: each chain whole from its first
// record when `complete` (every record was fetched), else each record's own hash.
std::string StoredRecordsAsLog(const std::vector<StoredRecord>& records, bool complete, ChainCheck& check);

}  // namespace kestrel
