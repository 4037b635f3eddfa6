#pragma once

#include <memory>
#include <string>

#include "station-app/PortWatcher.h"
#include "station-app/StationCommandLine.h"
#include "station-app/StationLogic.h"
#include "station-app/UsbHotplug.h"

namespace kestrel::stationapp {

// The fields of the window as "Start lot" finds them.
struct LotForm {
    std::string firmware, operatorName, stationName, lot;
    std::string ports;  // names apart by blanks
    bool allUsb = false;
};

// A lot that runs, with the watchers that tell it of its boxes: what every
// front end does on "Start lot", and undoes when the lot ends.
class LotRun {
public:
    // The lot of `form`, with the log, manifest and count of `commandLine`;
    // null with the refusal in `message`, else `message` is what the window says first.
    static std::unique_ptr<LotRun> Start(const LotForm& form, const StationCommandLine& commandLine,
                                         std::string& message);
    ~LotRun();  // the watchers end first; then every running download is cancelled and its result recorded
    LotRun(const LotRun&) = delete;
    LotRun& operator=(const LotRun&) = delete;

    StationLogic& Logic() { return *logic_; }
    const StationLogic& Logic() const { return *logic_; }
    // With --count: the lot's exit status once it is complete and no box runs, else -1.
    int FinishedStatus() const;

private:
    explicit LotRun(std::unique_ptr<StationLogic> logic) : logic_(std::move(logic)) {}

    std::unique_ptr<StationLogic> logic_;
    std::unique_ptr<PortWatcher> watcher_;
    std::unique_ptr<UsbHotplug> hotplug_;
};

}  // namespace kestrel::stationapp
