#include "app/TextFit.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "base/FileOpen.h"

namespace kestrel {

namespace {

const std::string kEllipsis = "\xE2\x80\xA6";  // U+2026, one character wide

// Where each character of a UTF-8 text starts, and its end.
std::vector<std::size_t> CharacterStarts(const std::string& text) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            starts.push_back(i);
        }
    }
    starts.push_back(text.size());
    return starts;
}

}  // namespace

std::string ElideMiddle(const std::string& text, int width, const TextWidth& measure) {
    if (measure(text) <= width) {
        return text;
    }
    const std::vector<std::size_t> starts = CharacterStarts(text);
    const std::size_t characters = starts.size() - 1;
    // Keeping `kept` characters, the odd one at the start.
    const auto elided = [&](std::size_t kept) {
        const std::size_t head = (kept + 1) / 2;
        const std::size_t tail = kept / 2;
        return text.substr(0, starts[head]) + kEllipsis + text.substr(starts[characters - tail]);
    };
    // The widest that fits; a width grows with the characters kept.
    std::size_t fits = 0;
    std::size_t tooMany = characters;
    while (tooMany - fits > 1) {
        const std::size_t middle = fits + (tooMany - fits) / 2;
        (measure(elided(middle)) <= width ? fits : tooMany) = middle;
    }
    return elided(fits);
}

std::string PickerStartFolder(const std::string& fieldText) {
    if (fieldText.empty()) {
        return {};
    }
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(PathFromUtf8(fieldText), error);
    if (error) {
        return {};
    }
    if (std::filesystem::is_directory(path, error)) {
        return Utf8FromPath(path);
    }
    const std::filesystem::path folder = path.parent_path();
    return std::filesystem::is_directory(folder, error) ? Utf8FromPath(folder) : std::string();
}

}  // namespace kestrel
