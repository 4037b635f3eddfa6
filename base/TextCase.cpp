#include "base/TextCase.h"

namespace kestrel {

namespace {

int Folded(char character) {
    const auto code = static_cast<unsigned char>(character);
    return (code >= 'A' && code <= 'Z') ? code - 'A' + 'a' : code;
}

}  // namespace

int CompareIgnoringCase(const std::string& left, const std::string& right) {
    const std::size_t common = left.size() < right.size() ? left.size() : right.size();
    for (std::size_t i = 0; i < common; ++i) {
        const int difference = Folded(left[i]) - Folded(right[i]);
        if (difference != 0) {
            return difference;
        }
    }
    if (left.size() == right.size()) {
        return 0;
    }
    return left.size() < right.size() ? -1 : 1;
}

}  // namespace kestrel
