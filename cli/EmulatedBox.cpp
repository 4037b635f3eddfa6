#include "cli/EmulatedBox.h"

#include <cstdio>

#include "base/Clock.h"

namespace kestrel::cli {

bool EmulatedBox::StartOverUsb() {
    driver_ = std::make_unique<emulator::SimulatedUsbDriver>(SteadyClock());
    driver_->AddDevice(emulator::SimulatedUsbDevice{.behaviour = behaviour_});
    linkName_ = "USB";
    return true;
}

bool StartEmulatedBoxes(const std::string& scenario, const std::string& file, std::size_t count, bool quiet,
                        std::vector<std::unique_ptr<EmulatedBox>>& boxes, std::vector<std::string>& links,
                        std::vector<UsbDriver*>& drivers) {
    for (std::size_t i = 0; i < count; ++i) {
        auto box = std::make_unique<EmulatedBox>(*emulator::FindScenario(scenario), file);
        if (!box->Start()) {
            std::fprintf(stderr, "kestrel-flash: cannot start the emulated box: %s\n", box->Error().c_str());
            return false;
        }
        links.push_back(box->LinkName());
        drivers.push_back(box->Driver());
        if (!quiet) {
            std::fprintf(stderr, "kestrel-flash: emulated box (%s) on %s\n", scenario.c_str(), links.back().c_str());
        }
        boxes.push_back(std::move(box));
    }
    return true;
}

}  // namespace kestrel::cli
