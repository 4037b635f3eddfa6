#include "emulator/BoxOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

namespace kestrel::emulator {

std::optional<BoxStage> ParseStage(const std::string& word) {
    std::string lower = word;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "sync")
        return BoxStage::Sync;
    if (lower == "length" || lower == "header")
        return BoxStage::Length;
    if (lower == "erase")
        return BoxStage::Erase;
    if (lower == "data")
        return BoxStage::Data;
    if (lower == "read-back" || lower == "readback")
        return BoxStage::ReadBack;
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ParseBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
    const auto separator = [](char c) { return c == ',' || std::isspace(static_cast<unsigned char>(c)); };
    while (at < text.size()) {
        if (separator(text[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && !separator(text[end])) {
            ++end;
        }
        std::string_view number(text.data() + at, end - at);
        if (number.size() > 2 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X')) {
            number.remove_prefix(2);
        }
        unsigned value = 0;
        const auto [stop, error] = std::from_chars(number.data(), number.data() + number.size(), value, 16);
        if (number.empty() || error != std::errc{} || stop != number.data() + number.size() || value > 0xFF) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
        at = end;
    }
    return bytes;
}

}  // namespace kestrel::emulator
