#include "station/RecordDatabase.h"

#include <filesystem>
#include <regex>

#include "base/FileOpen.h"

namespace kestrel {

namespace {

// A libpq keyword string begins with one of the keywords a connection is named by.
bool IsKeywordString(const std::string& text) {
    static const std::regex keyword(
        R"(\s*(host|hostaddr|port|dbname|user|password|passfile|service|sslmode|connect_timeout|application_name|options)\s*=.*)");
    return std::regex_match(text, keyword);
}

}  // namespace

bool NamesDatabase(const std::string& text) {
    if (text.starts_with("postgresql://") || text.starts_with("postgres://")) {
        return true;
    }
    // A log may be named "port=7.log": the file that is there wins.
    std::error_code error;
    return IsKeywordString(text) && !std::filesystem::exists(PathFromUtf8(text), error);
}

std::string SequenceNameProblem(const std::string& name) {
    constexpr std::size_t kLongest = 63;
    const auto word = [](char c) { return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (name.empty() || name.size() > kLongest || !word(name.front())) {
        return "a sequence's name begins with a letter or '_' and has at most 63 characters: " + name;
    }
    for (const char c : name) {
        if (!word(c) && !digit(c)) {
            return "a sequence's name has letters, digits and '_' only: " + name;
        }
    }
    return {};
}

}  // namespace kestrel
