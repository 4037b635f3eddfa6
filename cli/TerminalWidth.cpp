#include "cli/TerminalWidth.h"

namespace kestrel::cli {

namespace {

// Columns a UTF-8 text takes: one for each character (port names are the only
// text that is not ASCII, and then rarely wide).
std::size_t ColumnsOf(const std::string& text) {
    std::size_t columns = 0;
    for (const char c : text) {
        columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return columns;
}

// The first `columns` characters, never half of one.
std::string CutToColumns(const std::string& text, std::size_t columns) {
    std::size_t end = 0;
    for (std::size_t taken = 0; end < text.size(); ++end) {
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && taken++ == columns) {
            break;
        }
    }
    return text.substr(0, end);
}

}  // namespace

std::string FitColumns(const std::vector<std::string>& choices, int columns) {
    if (choices.empty()) {
        return {};
    }
    if (columns <= 0) {
        return choices.front();
    }
    const auto room = static_cast<std::size_t>(columns - 1);
    for (const auto& choice : choices) {
        if (ColumnsOf(choice) <= room) {
            return choice;
        }
    }
    return CutToColumns(choices.back(), room);
}

}  // namespace kestrel::cli
