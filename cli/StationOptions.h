#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "links/UsbDriver.h"

// The parser's types by name only: the files that build or read a command line
// include CLI11 themselves, and the rest of kestrel-flash compiles without it.
namespace CLI {
class App;
class Validator;
}  // namespace CLI

namespace kestrel::cli {

// kestrel-flash's options for a production line: which boxes, how to report,
// and how often.
struct StationOptions {
    std::vector<std::string> ports{};  // -p, repeatable: several boxes flashed at once
    bool listPorts = false;
    bool json = false;
    std::string logFile{};
    bool allUsb = false;
    bool wait = false;
    double waitTimeoutSeconds = 0;  // 0: no bound
    int repeat = 1;                 // 0: until interrupted
    // Who flashes where and for what, in every record and JSON event.
    std::string operatorName{}, stationName{}, lot{};
    std::string approved{};  // the manifest of the firmware that may be flashed; empty: any
    // What each box gets of its own, and the label on its case.
    std::string serialAt{}, serialFormat{"u32le"}, serialCounter{}, unitData{};
    std::uint64_t serialFirst = 1;
    std::uint64_t serialBlock = 0;  // 0: not given
    std::string label{};
    bool rework = false;
    // Commands on a log instead of a download.
    std::string verifyLog{}, report{}, reportHtml{}, reportCsv{};
    std::string database{};          // --db: every record also goes there; empty: the log alone
    std::string sendLog{}, since{};  // --send-log LOG; --report's records from this time on
};

// Refuses a value that is not a finite decimal number as "not a number".
CLI::Validator NumberCheck();

// Adds --json, --log, --all-usb, --wait, --wait-timeout, --repeat and --list-ports.
void AddStationOptions(CLI::App& app, StationOptions& station);

// What the rest of the command line asks of the downloads.
struct StationRequest {
    std::string file{};
    std::string emulate{};  // scenario name; empty: real boxes
    double timeoutSeconds = 30;
    bool quiet = false;
    std::function<bool()> cancelRequested{};
    UsbDriver* usbDriver = nullptr;  // the USB boxes' driver; null: the system's
    std::string systemRoot = "/";    // whose /sys tells which USB box a tty belongs to
};

}  // namespace kestrel::cli
