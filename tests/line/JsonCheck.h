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
    std::string text;  // the decoded string
    double number = 0;
    bool flag = false;
};

using JsonFields = std::map<std::string, JsonValue>;

class JsonCheck {
public:
    // The object's fields, or nothing when `line` is not exactly one valid flat object.
    static std::optional<JsonFields> Parse(const std::string& line) {
        JsonCheck check(line);
        JsonFields fields;
        if (!check.Object(fields)) return std::nullopt;
        check.Blanks();
        if (check.at_ != line.size()) return std::nullopt;
        return fields;
    }

private:
    explicit JsonCheck(const std::string& text) : text_(text) {}

    bool Object(JsonFields& fields) {
        Blanks();
        if (!Take('{')) return false;
        Blanks();
        if (Take('}')) return true;
        for (;;) {
            Blanks();
            std::string key;
            if (!String(key)) return false;
            Blanks();
            if (!Take(':')) return false;
            Blanks();
            JsonValue value;
            if (!Value(value)) return false;
            if (!fields.emplace(key, value).second) return false;  // a key twice
            Blanks();
            if (Take('}')) return true;
            if (!Take(',')) return false;
        }
    }

    bool Value(JsonValue& value) {
        if (Peek() == '"') {
            value.type = JsonValue::Type::String;
            return String(value.text);
        }
        if (Word("true")) { value.type = JsonValue::Type::Bool; value.flag = true; return true; }
        if (Word("false")) { value.type = JsonValue::Type::Bool; return true; }
        if (Word("null")) { value.type = JsonValue::Type::Null; return true; }
        value.type = JsonValue::Type::Number;
        return Number(value.number);
    }

    bool Number(double& number) {
        const std::size_t start = at_;
        Take('-');
        if (Take('0')) {
        } else if (Digits() == 0) {
            return false;
        }
        if (Take('.') && Digits() == 0) return false;
        if (Take('e') || Take('E')) {
            if (!Take('+')) Take('-');
            if (Digits() == 0) return false;
        }
        number = std::strtod(text_.substr(start, at_ - start).c_str(), nullptr);
        return true;
    }

    bool String(std::string& out) {
        if (!Take('"')) return false;
        while (at_ < text_.size()) {
            const auto c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') { out += static_cast<char>(c); continue; }
            if (at_ >= text_.size()) return false;
            const char escape = text_[at_++];
            switch (escape) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                if (at_ + 4 > text_.size()) return false;
                unsigned code = 0;
                for (int i = 0; i < 4; ++i) {
                    const char h = text_[at_++];
                    code <<= 4;
                    if (h >= '0' && h <= '9') code |= static_cast<unsigned>(h - '0');
                    else if (h >= 'a' && h <= 'f') code |= static_cast<unsigned>(h - 'a' + 10);
                    else if (h >= 'A' && h <= 'F') code |= static_cast<unsigned>(h - 'A' + 10);
                    else return false;
                }
                // The tool escapes single bytes only; they come back as those bytes.
                if (code > 0xFF) return false;
                out += static_cast<char>(code);
                break;
            }
            default: return false;
            }
        }
        return false;
    }

    std::size_t Digits() {
        std::size_t count = 0;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') { ++at_; ++count; }
        return count;
    }
    bool Word(const char* word) {
        const std::string w(word);
        if (text_.compare(at_, w.size(), w) != 0) return false;
        at_ += w.size();
        return true;
    }
    void Blanks() { while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t')) ++at_; }
    char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    bool Take(char c) {
        if (Peek() != c || at_ >= text_.size()) return false;
        ++at_;
        return true;
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

}  // namespace kestrel::testing
