#include "session/SourceFile.h"

namespace kestrel {

SourceBytes ReadSourceBytes(const std::string& path, std::uint32_t capacity) {
    SourceBytes source;
    source.bytes.resize(capacity);
    std::uint32_t length = 0;
    source.result = ReadSourceFile(path, source.bytes.data(), capacity, length, source.error);
    source.bytes.resize(source.result == SourceFileRead::Read ? length : 0);
    source.bytes.shrink_to_fit();
    return source;
}

}  // namespace kestrel
