#include "station/UnitField.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "session/SourceKind.h"

namespace kestrel {

namespace {

constexpr std::uint32_t kWindowStart = 0xE0000, kWindowEnd = 0xFFFFF;
constexpr std::uint32_t kMotHead = 6, kBinHeader = 30;
constexpr std::size_t kMostDigits = 20;  // 2^64 - 1 has 20

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

}  // namespace

std::string ParseSerialFormat(const std::string& text, SerialFormat& format) {
    if (text == "u32le" || text == "u32be") {
        format = {text == "u32le" ? SerialFormat::Kind::U32Le : SerialFormat::Kind::U32Be, 4};
        return {};
    }
    std::size_t width = 0;
    const std::string digits = text.starts_with("ascii:") ? text.substr(6) : std::string();
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), width);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || width < 1 ||
        width > kMostDigits) {
        return "not a serial format: " + text + " (u32le, u32be, or ascii:N with N from 1 to 20)";
    }
    format = {SerialFormat::Kind::Ascii, width};
    return {};
}

bool SerialBytes(std::uint64_t number, const SerialFormat& format, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (format.kind == SerialFormat::Kind::Ascii) {
        const std::string digits = std::to_string(number);
        if (digits.size() > format.width) {
            return false;
        }
        const std::string padded = std::string(format.width - digits.size(), '0') + digits;
        bytes.assign(padded.begin(), padded.end());
        return true;
    }
    if (number > 0xFFFFFFFFu) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(number >> (8 * i)));
    }
    if (format.kind == SerialFormat::Kind::U32Be) {
        std::swap(bytes[0], bytes[3]);
        std::swap(bytes[1], bytes[2]);
    }
    return true;
}

std::optional<std::uint32_t> FieldOffset(std::uint32_t address, std::size_t length, std::uint8_t sourceKind,
                                         std::uint32_t imageLength, std::string& why) {
    const std::uint64_t last = std::uint64_t{address} + length - 1;
    std::uint64_t offset = 0;
    if (sourceKind == kSourceKindMot) {
        if (address < kWindowStart || last > kWindowEnd) {
            why = "the field " + Hex(address) + ".." + Hex(static_cast<std::uint32_t>(last)) +
                  " lies outside the flash window 0xE0000..0xFFFFF";
            return std::nullopt;
        }
        offset = kMotHead + address - kWindowStart;
    } else {
        if (address < kBinHeader) {
            why = "the field at byte " + std::to_string(address) + " lies in the image's 30-byte header";
            return std::nullopt;
        }
        offset = address;
    }
    if (offset + length > imageLength) {
        why = "the field " + Hex(address) + ".." + Hex(static_cast<std::uint32_t>(last)) + " lies beyond the image (" +
              std::to_string(imageLength) + " bytes)";
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(offset);
}

std::string ParseUnitRow(const std::string& text, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    std::string digits;
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        } else if (c != ' ' && c != ':' && c != '-' && c != '\t' && c != '\r') {
            return "not a row of hex bytes";
        }
    }
    if (digits.empty() || digits.size() % 2 != 0) {
        return "not a row of hex bytes";
    }
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return {};
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

}  // namespace kestrel
