// A build without a database client: --db says so instead of connecting.
#include "station/RecordDatabase.h"

namespace kestrel {

bool RecordDatabaseAvailable() { return false; }

std::unique_ptr<RecordDatabase> OpenRecordDatabase(const std::string&) { return nullptr; }

}  // namespace kestrel
