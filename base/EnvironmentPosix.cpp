#include <cstdlib>

#include "base/Environment.h"

namespace kestrel {

std::optional<std::string> EnvironmentValue(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace kestrel
