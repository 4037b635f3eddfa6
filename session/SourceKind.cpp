#include "session/SourceKind.h"

#include "base/TextCase.h"

namespace kestrel {

namespace {

constexpr std::uint32_t kBaudRateMot = 115200;
// The box's loader for binary images takes them at the slower rate.
constexpr std::uint32_t kBaudRateBin = 38400;
constexpr std::size_t kExtensionLength = 4;

}  // namespace

std::uint8_t SourceKindOf(const std::string& path) {
    if (path.size() < kExtensionLength) {
        return kSourceKindUnknown;
    }
    const std::string extension = path.substr(path.size() - kExtensionLength);
    if (CompareIgnoringCase(extension, ".mot") == 0) {
        return kSourceKindMot;
    }
    return CompareIgnoringCase(extension, ".bin") == 0 ? kSourceKindBin : kSourceKindUnknown;
}

std::uint32_t BaudRateForSource(std::uint8_t sourceKind) {
    return sourceKind == kSourceKindBin ? kBaudRateBin : kBaudRateMot;
}

}  // namespace kestrel
