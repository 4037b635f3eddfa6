#include "base/FileOpen.h"
#include "base/Utf16.h"

namespace kestrel {

std::FILE* OpenFile(const std::string& utf8Path, const char* mode) {
    return ::_wfopen(WideFromUtf8(utf8Path).c_str(), WideFromUtf8(mode).c_str());
}

std::filesystem::path PathFromUtf8(const std::string& utf8Path) {
    return std::filesystem::path(WideFromUtf8(utf8Path));
}

std::error_code ReplaceFile(const std::string& replacement, const std::string& path) {
    // Replaces in one step (MoveFileExW with MOVEFILE_REPLACE_EXISTING).
    std::error_code error;
    std::filesystem::rename(PathFromUtf8(replacement), PathFromUtf8(path), error);
    return error;
}

}  // namespace kestrel
