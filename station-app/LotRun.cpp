#include "station-app/LotRun.h"

#include <sstream>
#include <vector>

#include "links/UsbDriver.h"
#include "session/LinkNames.h"

namespace kestrel::stationapp {

std::unique_ptr<LotRun> LotRun::Start(const LotForm& form, const StationCommandLine& commandLine,
                                      std::string& message) {
    LotSettings settings;
    settings.firmware = form.firmware;
    settings.logFile = commandLine.logFile;
    settings.database = commandLine.database;
    settings.units = commandLine.units;
    settings.manifest = commandLine.approved;
    settings.trace.operatorName = form.operatorName;
    settings.trace.station = form.stationName;
    settings.trace.lot = form.lot;
    settings.count = commandLine.count;
    std::unique_ptr<LotRun> run(new LotRun(std::make_unique<StationLogic>(settings)));
    std::vector<std::string> notices;
    if (!run->logic_->StartLot(message, &notices)) {
        return nullptr;
    }
    std::vector<std::string> ports;
    std::istringstream names(form.ports);
    for (std::string port; names >> port;) {
        if (const std::string problem = PortNameProblem(port); !problem.empty()) {
            message = problem;
            return nullptr;
        }
        ports.push_back(port);
    }
    StationLogic* logic = run->logic_.get();
    const auto tell = [logic](const std::string& port, bool present) { logic->BoxPresence(port, present); };
    run->watcher_ = std::make_unique<PortWatcher>(ports, tell, SystemPortEvents());
    std::string note;
    if (form.allUsb) {
        std::string why;
        if (auto events = SystemHotplugEvents(why)) {
            run->hotplug_ = std::make_unique<UsbHotplug>(std::move(events), SystemUsbDriver(), tell);
        } else {
            note = " (no USB boxes: " + why + ")";
        }
    }
    for (const auto& notice : notices) {
        note += "\n" + notice;
    }
    message = "Lot running: plug in the boxes." + note;
    return run;
}

LotRun::~LotRun() {
    hotplug_.reset();
    watcher_.reset();
    logic_.reset();
}

int LotRun::FinishedStatus() const {
    if (!logic_->LotComplete() || logic_->Running() != 0) {
        return -1;
    }
    return logic_->Counters().failed == 0 ? 0 : 1;
}

}  // namespace kestrel::stationapp
