#include "emulator/BoxScenarios.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

#include "session/SourceKind.h"

namespace kestrel::emulator {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

const std::vector<StageWord>& StageWords() {
    static const std::vector<StageWord> words{{"sync", BoxStage::Sync},
                                              {"length", BoxStage::Length},
                                              {"erase", BoxStage::Erase},
                                              {"data", BoxStage::Data},
                                              {"read-back", BoxStage::ReadBack}};
    return words;
}

std::optional<BoxStage> ParseStage(const std::string& word) {
    const std::string lower = Lower(word);
    if (lower == "header") {
        return BoxStage::Length;
    }
    if (lower == "readback") {
        return BoxStage::ReadBack;
    }
    for (const auto& known : StageWords()) {
        if (lower == known.word) {
            return known.stage;
        }
    }
    return std::nullopt;
}

bool Refusable(BoxStage stage) {
    return stage == BoxStage::Length || stage == BoxStage::Erase || stage == BoxStage::Data;
}

std::string StageList(bool refusableOnly) {
    std::string list;
    for (const auto& known : StageWords()) {
        if (!refusableOnly || Refusable(known.stage)) {
            list += (list.empty() ? "" : ", ") + std::string(known.word) +
                    (known.stage == BoxStage::Length ? " (or header)" : "");
        }
    }
    return list;
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

const std::vector<BoxScenario>& BoxScenarios() {
    static const std::vector<BoxScenario> scenarios = [] {
        std::vector<BoxScenario> list = {
            {.name = "ok", .behaviour = {}},
            {.name = "usb", .behaviour = {}, .overUsb = true},
            {.name = "type2", .behaviour = {.firmwareType = 2}},
            {.name = "wrong-type", .behaviour = {.firmwareType = 7}},
            {.name = "stray-bytes",
             .behaviour = {.strayBeforeType = {0x00, 0x55},
                           .retriesAfterLength = 2,
                           .unexpectedAfterLength = 1,
                           .strayDuringErase = {0x00}}},
            {.name = "no-read-back", .behaviour = {.readBack = false}},
            {.name = "corrupt-read-back", .behaviour = {.corruptReadBack = true}},
            {.name = "short-read-back", .behaviour = {.shortReadBack = 100}},
            {.name = "slow-erase", .behaviour = {.eraseMs = 3000}},
        };
        for (const auto& [word, stage] : StageWords()) {
            if (Refusable(stage)) {
                list.push_back({.name = std::string("refuse-") + word, .behaviour = {.refuseAt = stage}});
            }
        }
        for (const auto& [word, stage] : StageWords()) {
            list.push_back({.name = std::string("silent-") + word, .behaviour = {.silentAt = stage}});
        }
        for (const auto& [word, stage] : StageWords()) {
            list.push_back({.name = std::string("hang-up-") + word, .behaviour = {.hangUpAt = stage}});
        }
        return list;
    }();
    return scenarios;
}

std::optional<BoxScenario> FindScenario(const std::string& name) {
    for (const auto& scenario : BoxScenarios()) {
        if (scenario.name == name) {
            return scenario;
        }
    }
    return std::nullopt;
}

std::string ScenarioList() {
    std::string list;
    for (const auto& scenario : BoxScenarios()) {
        list += (list.empty() ? "" : ", ") + scenario.name;
    }
    return list;
}

BoxBehaviour BehaviourForFile(BoxBehaviour behaviour, const std::string& file) {
    if (SourceKindOf(file) == kSourceKindBin && behaviour.firmwareType == kSourceKindMot) {
        behaviour.firmwareType = 2;
    }
    return behaviour;
}

}  // namespace kestrel::emulator
