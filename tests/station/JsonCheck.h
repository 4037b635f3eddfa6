#pragma once

#include <cstddef>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

// A strict reader for the flat JSON objects the tool writes, one per line:
// strings, numbers, true, false and null as values, nothing after the object.
// Written apart from the writer so that a fault in one is not copied into the other.
namespace kestrel::testing {

struct JsonValue {
    enum class Type { String, Number, Bool, Null };
    Type type = Type::Null;
    std::string text;  // the decoded string, or the word true or false
    double number = 0;
};

using JsonFields = std::map<std::string, JsonValue>;

class JsonCheck {
public:
    // The object's fields, or nothing when `line` is not exactly one valid flat object.
    static std::optional<JsonFields> Parse(const std::string& line) {
        JsonCheck check(line);
        JsonFields fields;
        if (!check.Mark('{'))
            return std::nullopt;
        for (bool first = true; !check.Mark('}'); first = false) {
            std::string key;
            JsonValue value;
            if ((!first && !check.Mark(',')) || !check.String(key) || !check.Mark(':') || !check.Value(value) ||
                !fields.emplace(key, value).second) {  // also a key twice
                return std::nullopt;
            }
        }
        check.Blanks();
        if (check.at_ != line.size())
            return std::nullopt;
        return fields;
    }

private:
    explicit JsonCheck(const std::string& text) : text_(text) {}

    bool Value(JsonValue& value) {
        Blanks();
        if (Peek() == '"') {
            value.type = JsonValue::Type::String;
            return String(value.text);
        }
        for (const char* word : {"true", "false", "null"}) {
            if (text_.compare(at_, std::char_traits<char>::length(word), word) == 0) {
                value.type = word[0] == 'n' ? JsonValue::Type::Null : JsonValue::Type::Bool;
                value.text = word;
                at_ += value.text.size();
                return true;
            }
        }
        value.type = JsonValue::Type::Number;
        const std::size_t start = at_;
        Take('-');
        if (!Take('0') && Digits() == 0)
            return false;
        if (Take('.') && Digits() == 0)
            return false;
        if (Take('e') || Take('E')) {
            if (!Take('+'))
                Take('-');
            if (Digits() == 0)
                return false;
        }
        value.number = std::strtod(text_.substr(start, at_ - start).c_str(), nullptr);
        return true;
    }

    bool String(std::string& out) {
        if (!Mark('"'))
            return false;
        const std::string plain = "\"\\/bfnrt", decoded = "\"\\/\b\f\n\r\t", hex = "0123456789abcdef";
        while (at_ < text_.size()) {
            const auto c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"')
                return true;
            if (c < 0x20 || (c == '\\' && at_ >= text_.size()))
                return false;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            const char escape = text_[at_++];
            if (const auto at = plain.find(escape); at != std::string::npos) {
                out += decoded[at];
                continue;
            }
            if (escape != 'u' || at_ + 4 > text_.size())
                return false;
            unsigned code = 0;
            for (int i = 0; i < 4; ++i) {
                const char h = text_[at_++];
                const auto digit = hex.find(h >= 'A' && h <= 'F' ? static_cast<char>(h - 'A' + 'a') : h);
                if (digit == std::string::npos)
                    return false;
                code = code << 4 | static_cast<unsigned>(digit);
            }
            // The tool escapes single bytes only; they come back as those bytes.
            if (code > 0xFF)
                return false;
            out += static_cast<char>(code);
        }
        return false;
    }

    std::size_t Digits() {
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
            ++at_;
        return at_ - start;
    }
    void Blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t'))
            ++at_;
    }
    char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    bool Take(char c) {
        if (Peek() != c || at_ >= text_.size())
            return false;
        ++at_;
        return true;
    }
    // A mark of the object's structure, which blanks may precede.
    bool Mark(char c) {
        Blanks();
        return Take(c);
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

}  // namespace kestrel::testing
