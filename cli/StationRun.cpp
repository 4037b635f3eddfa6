#include "cli/StationRun.h"

#include <cstdio>
#include <cstring>

#include "cli/Approval.h"
#include "cli/StationRunner.h"
#include "station/PortListing.h"
#include "station/SessionLog.h"

namespace kestrel::cli {

int RunStation(const StationOptions& station, const StationRequest& request) {
    // Before any box is touched: a download whose record cannot be kept is not begun.
    if (!station.logFile.empty()) {
        if (const int error = CheckSessionLog(station.logFile); error != 0) {
            std::fprintf(stderr, "kestrel-flash: cannot write the log %s: %s\n", station.logFile.c_str(),
                         std::strerror(error));
            return kExitUsage;
        }
    }
    if (request.emulate.empty()) {
        if (const std::string twice = PortGivenTwice(
                station.ports, request.usbDriver ? *request.usbDriver : SystemUsbDriver(), request.systemRoot);
            !twice.empty()) {
            std::fprintf(stderr, "kestrel-flash: %s\n", twice.c_str());
            return kExitUsage;
        }
    }
    TraceFields trace;
    trace.operatorName = station.operatorName;
    trace.station = station.stationName;
    trace.lot = station.lot;
    if (const int refused = CheckApproval(station, request.file, trace); refused != kExitSuccess) {
        return refused;
    }
    StationRunner runner(station, request, trace);
    return runner.Run();
}

}  // namespace kestrel::cli
