#include "cli/EmulatedBox.h"

#include "links/Clock.h"

namespace kestrel::cli {

bool EmulatedBox::StartOverUsb() {
    driver_ = std::make_unique<emulator::SimulatedUsbDriver>(SteadyClock());
    driver_->AddDevice(emulator::SimulatedUsbDevice{.behaviour = behaviour_});
    linkName_ = "USB";
    return true;
}

}  // namespace kestrel::cli
