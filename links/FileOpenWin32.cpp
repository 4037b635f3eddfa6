#include "links/FileOpen.h"
#include "links/Utf16.h"

namespace kestrel {

std::FILE* OpenFile(const std::string& utf8Path, const char* mode) {
    return ::_wfopen(WideFromUtf8(utf8Path).c_str(), WideFromUtf8(mode).c_str());
}

std::filesystem::path PathFromUtf8(const std::string& utf8Path) {
    return std::filesystem::path(WideFromUtf8(utf8Path));
}

}  // namespace kestrel
