#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emulator/BoxModel.h"

namespace kestrel::emulator {

// The words and named behaviours of the box's scenarios, for kestrel-box's
// options, kestrel-flash --emulate and both programs' help texts.

struct StageWord {
    const char* word;
    BoxStage stage;
};
// "sync", "length", "erase", "data", "read-back": the stages in the order of a download.
const std::vector<StageWord>& StageWords();
// A stage word in any case; also "header" for the length and "readback".
std::optional<BoxStage> ParseStage(const std::string& word);
// The box answers with a refusal only where it answers at all: the length or
// header, the erase and the data.
bool Refusable(BoxStage stage);
// The stage words joined for a help text, only the refusable ones if asked.
std::string StageList(bool refusableOnly = false);

// Bytes written as hexadecimal numbers, separated by commas or blanks:
// "2a,00" or "0x2A 0x00". Nothing when a number is not a byte.
std::optional<std::vector<std::uint8_t>> ParseBytes(const std::string& text);

// A box by name: "ok", "type2", "silent-erase", "hang-up-data", ...
struct BoxScenario {
    std::string name;
    BoxBehaviour behaviour;
    bool overUsb = false;  // behind the simulated USB driver instead of a pseudo-terminal
};
const std::vector<BoxScenario>& BoxScenarios();
std::optional<BoxScenario> FindScenario(const std::string& name);
// Every scenario name, in the table's order, joined for a help text.
std::string ScenarioList();

// The box a firmware file is flashed into: a binary image is firmware of type
// 2, so a box that announces the default type 1 announces 2 for a ".bin" file.
BoxBehaviour BehaviourForFile(BoxBehaviour behaviour, const std::string& file);

}  // namespace kestrel::emulator
