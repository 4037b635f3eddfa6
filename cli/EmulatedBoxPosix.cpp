#include <cstring>

#include "cli/EmulatedBox.h"
#include "emulator/ServedBox.h"

namespace kestrel::cli {

struct EmulatedBox::Line {
    std::unique_ptr<emulator::ServedBox> served;
};

EmulatedBox::EmulatedBox(const emulator::BoxScenario& scenario, const std::string& file)
    : behaviour_(emulator::BehaviourForFile(scenario.behaviour, file)), overUsb_(scenario.overUsb) {}

EmulatedBox::~EmulatedBox() = default;

bool EmulatedBox::Start() { return overUsb_ ? StartOverUsb() : StartOnLine(); }

bool EmulatedBox::StartOnLine() {
    // No download count: the box serves every round of a --repeat run.
    line_ = std::make_unique<Line>();
    line_->served = std::make_unique<emulator::ServedBox>(emulator::BoxModel(behaviour_));
    if (!line_->served->Started()) {
        error_ = std::strerror(line_->served->Error());
        return false;
    }
    linkName_ = line_->served->DevicePath();
    return true;
}

}  // namespace kestrel::cli
