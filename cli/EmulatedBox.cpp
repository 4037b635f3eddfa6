#include "cli/EmulatedBox.h"

#include <cstring>

#include "links/Clock.h"

namespace kestrel::cli {

EmulatedBox::EmulatedBox(const emulator::BoxScenario& scenario, const std::string& file)
    : behaviour_(emulator::BehaviourForFile(scenario.behaviour, file)), overUsb_(scenario.overUsb) {}

bool EmulatedBox::Start() {
    if (overUsb_) {
        driver_ = std::make_unique<emulator::SimulatedUsbDriver>(SteadyClock());
        driver_->AddDevice(emulator::SimulatedUsbDevice{.behaviour = behaviour_});
        linkName_ = "USB";
        return true;
    }
    // No download count: the box serves every round of a --repeat run.
    served_ = std::make_unique<emulator::ServedBox>(emulator::BoxModel(behaviour_));
    if (!served_->Started()) {
        error_ = std::strerror(served_->Error());
        return false;
    }
    linkName_ = served_->DevicePath();
    return true;
}

}  // namespace kestrel::cli
