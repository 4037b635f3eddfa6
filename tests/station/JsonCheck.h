#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// The flat JSON objects the tool writes, one per line, read by a parser of its
// own: strings, numbers, true, false and null as values, no key twice, nothing
// after the object. The tool writes a byte that is no UTF-8 as \u00XX; such an
// escape comes back here as that single byte (it goes through U+F7XX, which
// the tool never writes).
namespace kestrel::testing {

struct JsonValue {
    enum class Type { String, Number, Bool, Null };
    Type type = Type::Null;
    std::string text;  // the decoded string, or the word true or false
    double number = 0;
};

using JsonFields = std::map<std::string, JsonValue>;

struct JsonCheck {
    // The object's fields, or nothing when `line` is not exactly one valid flat object.
    static std::optional<JsonFields> Parse(const std::string& line) {
        std::string marked;
        for (std::size_t i = 0; i < line.size(); ++i) {
            marked += line[i];
            if (line[i] != '\\' || i + 1 == line.size())
                continue;
            marked += line[++i];
            if (line[i] == 'u' && line.compare(i + 1, 2, "00") == 0 && i + 3 < line.size() &&
                std::string_view("89abcdefABCDEF").find(line[i + 3]) != std::string_view::npos) {
                marked += "f7";
                i += 2;
            }
        }
        std::set<std::string> keys;
        bool keyTwice = false;
        const auto onEvent = [&](int depth, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
            if (event == nlohmann::json::parse_event_t::key && depth == 1)
                keyTwice |= !keys.insert(parsed.get<std::string>()).second;
            return true;
        };
        const auto object = nlohmann::json::parse(marked, onEvent, false);
        if (!object.is_object() || keyTwice)
            return std::nullopt;
        JsonFields fields;
        for (const auto& [key, value] : object.items()) {
            JsonValue& field = fields[key];
            if (value.is_string()) {
                field.type = JsonValue::Type::String;
                const auto text = value.get<std::string>();
                for (std::size_t i = 0; i < text.size(); ++i) {
                    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
                    if (byte(i) == 0xEF && i + 2 < text.size() && (byte(i + 1) & 0xFE) == 0x9E) {
                        field.text += static_cast<char>(0x80 | (byte(i + 1) & 1) << 6 | (byte(i + 2) & 0x3F));
                        i += 2;
                    } else {
                        field.text += text[i];
                    }
                }
            } else if (value.is_number()) {
                field.type = JsonValue::Type::Number;
                field.number = value.get<double>();
            } else if (value.is_boolean()) {
                field.type = JsonValue::Type::Bool;
                field.text = value.dump();
            } else if (!value.is_null()) {
                return std::nullopt;  // an array or an object
            }
        }
        return fields;
    }
};

}  // namespace kestrel::testing
