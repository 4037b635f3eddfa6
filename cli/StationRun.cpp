#include "cli/StationRun.h"

#include <cstdio>

#include "cli/DatabaseOutbox.h"
#include "cli/StationRunner.h"
#include "cli/UnitOptions.h"
#include "station/PortListing.h"
#include "station/PreparedLot.h"

namespace kestrel::cli {

int RunStation(const StationOptions& station, const StationRequest& request) {
    if (request.emulate.empty()) {
        if (const std::string twice =
                PortGivenTwice(station.ports, SessionOptions{.usbDriver = request.usbDriver}.Usb(), request.systemRoot);
            !twice.empty()) {
            std::fprintf(stderr, "kestrel-flash: %s\n", twice.c_str());
            return kExitUsage;
        }
    }
    UnitOptions units;
    if (const std::string wrong = UnitOptionsOf(station, units); !wrong.empty()) {
        std::fprintf(stderr, "kestrel-flash: %s\n", wrong.c_str());
        return kExitUsage;
    }
    units.wait.cancelled = request.cancelRequested;
    // Before any box is touched: a database that takes the records, the firmware read and approved once, and a
    // log that can keep every record.
    std::string log = station.logFile;
    std::shared_ptr<RecordSender> sender;
    if (!station.database.empty()) {
        if (const int status = StartOutbox(station, log, sender); status != kExitSuccess) {
            return status;
        }
    }
    PreparedLot lot;
    const LotSource source{
        .firmware = request.file,
        .manifest = station.approved,
        .log = log,
        .trace = {.operatorName = station.operatorName, .station = station.stationName, .lot = station.lot},
        .logWait = {.cancelled = request.cancelRequested},
        .labels = !station.label.empty(),
        .outbox = OutboxOf(sender)};
    if (const LotRefusal refused = PrepareLot(source, lot)) {
        std::fprintf(stderr, "kestrel-flash: %s\n", refused.message.c_str());
        return refused.status;
    }
    for (const auto& notice : lot.notices) {
        std::fprintf(stderr, "kestrel-flash: %s\n", notice.c_str());
    }
    std::unique_ptr<LotUnits> ownValues;
    units.log = log;  // a station's block of serial numbers is kept beside its outbox
    if (units.fieldAt && lot.built == DownloadOutcome::Success) {
        if (const LotRefusal refused = LotUnits::Prepare(units, lot, ownValues)) {
            std::fprintf(stderr, "kestrel-flash: %s\n", refused.message.c_str());
            EndOutbox(sender, log);
            return refused.status;
        }
    }
    StationRunner runner(station, request, lot, ownValues.get());
    const int status = runner.Run();
    EndOutbox(sender, log);
    return status;
}

}  // namespace kestrel::cli
