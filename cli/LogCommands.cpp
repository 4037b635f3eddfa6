#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/FileOpen.h"
#include "cli/ImageFile.h"
#include "cli/ReportPage.h"
#include "cli/TraceOptions.h"
#include "session/ExitStatus.h"
#include "session/SourceFile.h"
#include "station/ApprovedManifest.h"
#include "station/DatabaseReport.h"
#include "station/LogChain.h"
#include "station/RecordDatabase.h"
#include "station/SessionLog.h"
#include "station/YieldReport.h"

namespace kestrel::cli {

namespace {

// The log's bytes; false, with the reason on stderr, when it cannot be read.
bool ReadLog(const std::string& path, std::string& text) {
    if (const int error = ReadWholeFile(path, text); error != 0) {
        std::fprintf(stderr, "kestrel-flash: cannot read the log %s: %s\n", path.c_str(), FileErrorText(error).c_str());
        return false;
    }
    return true;
}

bool Write(const std::string& path, const std::string& text) {
    const std::string error = WriteFileWhole(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    if (!error.empty()) {
        std::fprintf(stderr, "kestrel-flash: cannot write %s: %s\n", path.c_str(), error.c_str());
    }
    return error.empty();
}

// The records of the downloads --lot and --since pick; a chain found intact counts them alone.
std::string Picked(const std::string& log, const StationOptions& station, ChainCheck& chain) {
    if (station.lot.empty() && station.since.empty()) {
        return log;
    }
    std::string picked;
    std::size_t count = 0;
    for (const auto& record : SplitLog(log)) {
        const std::string started = record.text.size() > 4 ? record.text.substr(4, record.text.find(' ', 4) - 4) : "";
        if ((station.lot.empty() || record.Field("lot") == station.lot) && started >= station.since) {
            picked += record.text;
            ++count;
        }
    }
    if (chain.broken == 0) {
        chain.records = count;
        chain.older = 0;
    }
    return picked;
}

// Every station's records as one log, ordered by their chains. 0, or the exit status with the reason on stderr.
int ReadDatabase(const StationOptions& station, std::string& log, ChainCheck& chain, std::string& source) {
    auto database = OpenRecordDatabase(station.report);
    if (!database) {
        std::fprintf(stderr, "kestrel-flash: a records database is not available on this platform\n");
        return kExitUsage;
    }
    std::vector<StoredRecord> records;
    const DatabaseResult result = database->Fetch(station.lot, station.since, records);
    if (!result) {
        std::fprintf(stderr, "kestrel-flash: cannot read the records of the database: %s\n", result.message.c_str());
        return result.state == DatabaseState::Refused ? kExitUsage : kExitFile;
    }
    source = database->Name();
    log = StoredRecordsAsLog(records, station.lot.empty() && station.since.empty(), chain);
    return kExitSuccess;
}

}  // namespace

int VerifyLogCommand(const StationOptions& station) {
    std::string log;
    if (!ReadLog(station.verifyLog, log)) {
        return kExitFile;
    }
    const ChainCheck check = VerifyChain(log);
    if (check.records == 0) {
        std::fprintf(stdout, "empty: no records\n");
        return kExitStageFailed;  // nothing was verified
    }
    if (check.broken == 0 && check.records == check.older) {
        std::fprintf(stdout, "unchained: %zu records of an older layout, which carry no chain to check\n",
                     check.records);
        return kExitStageFailed;
    }
    if (check.broken == 0) {
        std::fprintf(stdout, "intact: %zu records", check.records - check.older);
        if (check.older > 0) {
            std::fprintf(stdout, " after %zu records of an older layout, which carry no chain", check.older);
        }
        std::fprintf(stdout, "\n");
        return kExitSuccess;
    }
    const LogRecordText record = SplitLog(log)[check.broken - 1];
    // As the log itself escapes them: a CR in an edited record must not overwrite the line on the terminal.
    const std::string port = EscapedField(record.Field("port"));
    std::fprintf(stdout, "broken: record %zu of %zu (line %zu%s%s) does not chain: %s\n", check.broken, check.records,
                 check.line, port.empty() ? "" : ", port ", port.c_str(), check.reason.c_str());
    return kExitStageFailed;
}

int ReportCommand(const StationOptions& station) {
    std::string log, source = station.report;
    ChainCheck chain;
    if (NamesDatabase(station.report)) {
        if (const int status = ReadDatabase(station, log, chain, source); status != kExitSuccess) {
            return status;
        }
    } else {
        if (!ReadLog(station.report, log)) {
            return kExitFile;
        }
        chain = VerifyChain(log);
        log = Picked(log, station, chain);
    }
    YieldReport report = MakeYieldReport(log);
    report.chain = chain;
    std::fputs(ReportText(report).c_str(), stdout);
    const bool changed = report.chain.broken != 0;
    bool written = true;
    if (!station.reportCsv.empty()) {
        written = Write(station.reportCsv, ReportCsv(report)) && written;
    }
    if (!station.reportHtml.empty()) {
        written = Write(station.reportHtml, ReportHtml(report, source)) && written;
    }
    return written && !changed ? kExitSuccess : kExitStageFailed;
}

}  // namespace kestrel::cli
