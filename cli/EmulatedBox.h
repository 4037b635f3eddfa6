#pragma once

#include <memory>
#include <string>

#include "emulator/BoxScenarios.h"
#include "emulator/ServedBox.h"
#include "emulator/SimulatedUsbDriver.h"

namespace kestrel::cli {

// An emulated box inside this process for a --emulate run: on a
// pseudo-terminal, served on its own thread for every download of the run
// until the box is destroyed, or behind the simulated USB driver.
class EmulatedBox {
public:
    // The scenario's box as it takes `file`: a ".bin" file makes it a box of type 2.
    EmulatedBox(const emulator::BoxScenario& scenario, const std::string& file);
    EmulatedBox(const EmulatedBox&) = delete;
    EmulatedBox& operator=(const EmulatedBox&) = delete;

    // False, with a reason in Error(), when the line cannot be made.
    bool Start();
    // The name to hand to the download: the pseudo-terminal's path, or "USB".
    const std::string& LinkName() const { return linkName_; }
    // Null unless the box sits behind the simulated USB driver.
    UsbDriver* Driver() { return driver_.get(); }
    const std::string& Error() const { return error_; }

private:
    emulator::BoxBehaviour behaviour_;
    bool overUsb_;
    std::unique_ptr<emulator::ServedBox> served_;
    std::unique_ptr<emulator::SimulatedUsbDriver> driver_;
    std::string linkName_;
    std::string error_;
};

}  // namespace kestrel::cli
