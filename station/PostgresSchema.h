#pragma once

#include <string>
#include <vector>

namespace kestrel {

// The records database's schema, one migration per version: version N is
// reached by running the first N in turn, so an older database is brought up
// to date by the ones it lacks. Append a migration; never change one.
const std::vector<std::string>& SchemaMigrations();

}  // namespace kestrel
