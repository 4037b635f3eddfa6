#include "station/RecordDatabase.h"

namespace kestrel {

bool NamesDatabase(const std::string& text) {
    return text.starts_with("postgresql://") || text.starts_with("postgres://");
}

}  // namespace kestrel
