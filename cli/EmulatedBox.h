#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/BoxModel.h"
#include "emulator/SimulatedUsbDriver.h"

namespace kestrel::cli {

// The box a --emulate run flashes into, by the scenario's name.
struct EmulatedScenario {
    emulator::BoxBehaviour behaviour;
    bool overUsb = false;  // the simulated USB device instead of a pseudo-terminal
};

std::optional<EmulatedScenario> FindScenario(const std::string& name);
// Every scenario name, in the order --help lists them.
const std::vector<std::string>& ScenarioNames();

// An emulated box inside this process, serving one download: on a
// pseudo-terminal, served by its own thread, or behind the simulated USB driver.
// Where the system has no pseudo-terminals (Windows) every scenario runs behind
// the simulated USB driver.
class EmulatedBox {
public:
    explicit EmulatedBox(const EmulatedScenario& scenario);
    ~EmulatedBox();
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
    // The box on a serial line of the platform's own, and what serves it.
    struct Line;
    bool StartOverUsb();
    bool StartOnLine();

    EmulatedScenario scenario_;
    std::unique_ptr<Line> line_;
    std::unique_ptr<emulator::SimulatedUsbDriver> driver_;
    std::string linkName_;
    std::string error_;
};

}  // namespace kestrel::cli
