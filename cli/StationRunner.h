#pragma once

#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/BoxWait.h"
#include "cli/EmulatedBox.h"
#include "cli/GangConsole.h"
#include "cli/StationOptions.h"
#include "session/DownloadOutcome.h"
#include "session/ExitStatus.h"
#include "session/OpenFailure.h"
#include "session/SessionOptions.h"
#include "station/JsonLines.h"
#include "station/LotUnits.h"
#include "station/PreparedLot.h"
#include "station/RecordedDownload.h"

namespace kestrel::cli {

// What to do about `failure` beyond the status lines, on a line of its own; nothing when there is nothing to add.
void PrintOpenHint(const OpenFailure& failure);

// One box of a round: its link, its driver and the lists its lines pass through.
struct BoxReport {
    std::string link;
    UsbDriver* usbDriver = nullptr;
    std::unique_ptr<StatusList> out;               // stdout: plain, prefixed or JSON
    JsonLinesStatusList* json = nullptr;           // `out` when it is JSON: the events beyond status lines go there
    std::unique_ptr<SessionRecordBuilder> record;  // its lines and result, for the lot's records
    StatusList* top = nullptr;                     // what the session reports to
    std::optional<OpenFailure> openFailure;        // what did not open, and why
    BoxUnit unit;                                  // what the box gets of its own
};

// The station's downloads, round after round. Its rounds and waits are in
// StationRounds.cpp, a box's report and a single download in
// StationReports.cpp, a gang's download and summary in StationGang.cpp.
class StationRunner {
public:
    // `units` (may be null: every box gets the lot's image) outlive the runner.
    StationRunner(const StationOptions& station, const StationRequest& request, PreparedLot& lot, LotUnits* units)
        : station_(station), request_(request), lot_(lot), units_(units) {}

    // An exit status of the downloads; a record lost from the log turns a success into a failure.
    int Run() {
        const int status = RunRounds();
        return status == kExitSuccess && lot_.records->Lost() ? kExitOutput : status;
    }

private:
    static int FirstFailure(int sofar, int next) { return sofar != kExitSuccess ? sofar : next; }
    bool Cancelled() const { return request_.cancelRequested && request_.cancelRequested(); }
    UsbDriver& Usb() const { return SessionOptions{.usbDriver = request_.usbDriver}.Usb(); }
    UsbDriver& DriverOf(const BoxReport& report) const {
        return report.usbDriver != nullptr ? *report.usbDriver : Usb();
    }

    int RunRounds();
    bool ListsAllUsb() const { return station_.allUsb && request_.emulate.empty(); }
    bool SetUpBoxes();
    // Every USB box attached, each by its serial number; with --wait the first
    // one to be attached is waited for.
    bool FindAllUsb();
    WaitedBoxes Waited() const { return {links_, drivers_, Usb(), request_.cancelRequested, request_.quiet}; }
    // Each box that did not come, or all when the wait was cancelled, has its
    // result on record; the exit status of the first, or 0 when all came.
    int RecordAbsent(const std::vector<bool>& here);
    // The round's downloads into the boxes that are here; a gang stays one, its lines led by their ports.
    int RunPresent(const std::vector<bool>& here);

    BoxReport MakeReport(std::size_t box, bool prefixed);
    SessionOptions OptionsFor(std::size_t box, BoxReport& report) const;
    // The JSON outcome of a box refused before its download began.
    static const char* RefusalOutcome(int status);
    // The box's started record and event; 0 when it may be flashed, else the
    // box's exit status, its result given (a record that could not be kept).
    int Start(BoxReport& report);
    // The record of the box's result, and its JSON result with the status the
    // run ends with for it (a lost record fails a success); that status.
    int Finish(BoxReport& report, DownloadOutcome outcome, double seconds, const std::string& digest);
    // Says once that the file on disk is no longer what the lot read.
    void NoteChangedFile();
    int RunSingle();
    int RunGang();

    const StationOptions& station_;
    const StationRequest& request_;
    std::vector<std::string> links_;
    std::vector<UsbDriver*> drivers_;
    std::vector<std::unique_ptr<EmulatedBox>> emulated_;
    std::unique_ptr<GangConsole> gang_;  // a gang's lines and progress
    PreparedLot& lot_;
    LotUnits* units_;
    JsonLineWriter json_{std::cout};
};

}  // namespace kestrel::cli
