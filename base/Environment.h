#pragma once

#include <optional>
#include <string>

namespace kestrel {

// The value of the environment variable `name` in UTF-8, as the rest of the tool
// takes text; none when it is not set. On Windows it is read as UTF-16, since
// the C library's copy is in the local code page, where "Müller" is another
// name and a character the code page lacks is lost.
std::optional<std::string> EnvironmentValue(const std::string& name);

}  // namespace kestrel
