#include "links/FileOpen.h"

namespace kestrel {

std::FILE* OpenFile(const std::string& utf8Path, const char* mode) { return std::fopen(utf8Path.c_str(), mode); }

std::filesystem::path PathFromUtf8(const std::string& utf8Path) { return std::filesystem::path(utf8Path); }

}  // namespace kestrel
