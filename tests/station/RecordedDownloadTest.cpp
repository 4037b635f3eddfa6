// What a download reports for a line's records: its log record, line by line.
#include <regex>

#include "StationTestSupport.h"
#include "session/Version.h"
#include "station/RecordedDownload.h"
#include "station/SessionLog.h"

namespace kestrel::testing {
namespace {

// A record's line with its times and own hash shown by their form: "####-##-##T##:##:##.###Z", "+#.###s".
std::string Form(const std::string& line) {
    if (line.starts_with("sha256: "))
        return "sha256: " + std::string(64, '#');
    if (!line.starts_with("=== ") && !line.starts_with("line +"))
        return line;
    return std::regex_replace(std::regex_replace(line, std::regex("[0-9]"), "#"), std::regex("\\+#+\\."), "+#.");
}

// One download as a front end records it: the image's details from the session
// once it is built, the box that opened, every line of the box's list.
TEST(DownloadReports, AWholeDownloadGivesItsLinesInOrderInALogRecord) {
    FirmwareFiles firmware;
    SimulatedBox box;
    SessionRecordBuilder builder("USB", firmware.mot, &box.status);
    builder.Trace() = {
        .operatorName = "Ada", .station = "S1", .lot = "L7", .manifest = "", .approvedSha256 = "", .attempt = 2};
    const auto outcome = RunDownload("USB", firmware.mot, builder.Status(), builder.Hooked(box.Options()));
    ASSERT_EQ(outcome, DownloadOutcome::Success);
    const std::string log = firmware.Path("line.log");
    EXPECT_EQ(AppendSessionRecord(log, builder.Finish(outcome, 1.5, box.driver)), 0);
    // The identity is the box that opened; the recorded download was not a lot's, so no firmware was read before it.
    Lines expected =
        SplitLines(Form("=== 2000-01-01T00:00:00.000Z Kestrel Loader " + std::string(kToolVersion)) +
                   "\nschema: 3\nrecord: result\noperator: Ada\nstation: S1\nlot: L7\nattempt: 2\nport: USB\n"
                   "identity: USB 0403:6001 Kestrel box, serial KST00001\nbox: none\nbaud: 115200\nfile: " +
                   firmware.mot + "\nimage: 131078 bytes, sha256 " + Sha256Of(firmware.motImage) +
                   "\napproved: none\nfirmware: none\nserial: none\nunit: none\nlabel: none\nrework: no");
    for (const auto& line : box.status.lines())
        expected.push_back(Form("line +0.000s \"" + line + "\""));
    // The first record of a log chains to the start value; an empty line ends a record.
    expected.insert(expected.end(),
                    {"result: success, exit 0, 1.500 s", "prev: " + std::string(64, '0'), Form("sha256: "), ""});
    Lines lines = SplitLines(ReadFile(log));
    std::transform(lines.begin(), lines.end(), lines.begin(), Form);
    EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace kestrel::testing
