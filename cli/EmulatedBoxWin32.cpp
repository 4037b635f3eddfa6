#include "cli/EmulatedBox.h"

namespace kestrel::cli {

// No pseudo-terminals here: nothing serves a line.
struct EmulatedBox::Line {};

EmulatedBox::EmulatedBox(const emulator::BoxScenario& scenario, const std::string& file)
    : behaviour_(emulator::BehaviourForFile(scenario.behaviour, file)), overUsb_(scenario.overUsb) {}

EmulatedBox::~EmulatedBox() = default;

bool EmulatedBox::Start() { return StartOverUsb(); }

}  // namespace kestrel::cli
