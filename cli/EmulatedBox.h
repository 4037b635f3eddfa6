#pragma once

#include <memory>
#include <string>
#include <vector>

#include "emulator/BoxScenarios.h"
#include "emulator/SimulatedUsbDriver.h"

namespace kestrel::cli {

// An emulated box inside this process for a --emulate run: on a
// pseudo-terminal, served on its own thread for every download of the run
// until the box is destroyed, or behind the simulated USB driver. Where the
// system has no pseudo-terminals (Windows) every scenario runs behind the
// simulated USB driver.
class EmulatedBox {
public:
    // The scenario's box as it takes `file`: a ".bin" file makes it a box of type 2.
    EmulatedBox(const emulator::BoxScenario& scenario, const std::string& file);
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

    emulator::BoxBehaviour behaviour_;
    bool overUsb_;
    std::unique_ptr<Line> line_;
    std::unique_ptr<emulator::SimulatedUsbDriver> driver_;
    std::string linkName_;
    std::string error_;
};

// The boxes of a --emulate run: `count` boxes of `scenario` taking `file`,
// each started, with its link name and its driver (null for a box on a line)
// appended to `links` and `drivers`. False, with the reason on standard error,
// when one cannot start; unless `quiet`, each box says where it is.
bool StartEmulatedBoxes(const std::string& scenario, const std::string& file, std::size_t count, bool quiet,
                        std::vector<std::unique_ptr<EmulatedBox>>& boxes, std::vector<std::string>& links,
                        std::vector<UsbDriver*>& drivers);

}  // namespace kestrel::cli
