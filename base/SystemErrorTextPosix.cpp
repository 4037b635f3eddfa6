#include <cstring>

#include "base/SystemErrorText.h"

namespace kestrel {

std::string SystemErrorText(int error) { return std::strerror(error); }

}  // namespace kestrel
