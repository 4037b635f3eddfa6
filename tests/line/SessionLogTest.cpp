#include "session/SessionLog.h"

#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LineTestSupport.h"
#include "session/DownloadWorkflow.h"
#include "session/JsonLines.h"
#include "session/Sha256.h"
#include "session/Version.h"
#include "support/SimulatedBox.h"

namespace kestrel::testing {
namespace {

// One download as a front end logs it: the recorder between the session and
// its list, the image's details from the session once it is built.
SessionRecord LoggedDownload(SimulatedBox& box, const std::string& file) {
    SessionLogRecorder recorder(&box.status, box.clock);
    SessionRecord record;
    record.started = std::chrono::system_clock::now();
    record.toolVersion = kToolVersion;
    record.port = "USB:KST00001";
    record.portIdentity = "USB 0403:6001 Kestrel box, serial KST00001";
    record.fileName = file;
    SessionOptions options = box.Options();
    options.imageReady = [&record](const std::uint8_t* image, std::uint32_t length, std::uint8_t kind) {
        record.imageSize = length;
        record.imageSha256 = Sha256Hex(image, length);
        record.baudRate = BaudRateForSource(kind);
    };
    const DownloadOutcome outcome = RunDownload("USB", file, recorder, options);
    record.lines = recorder.Lines();
    record.outcome = OutcomeName(outcome);
    record.exitStatus = outcome == DownloadOutcome::Success ? 0 : 4;
    record.seconds = 1.5;
    return record;
}

TEST(SessionLog, RecordsOfDownloadsAreAppendedWithEveryLineInOrder) {
    LineFirmware firmware;
    const std::string log = firmware.dir.Path("line.log");

    SimulatedBox box;
    const SessionRecord flashed = LoggedDownload(box, firmware.mot);
    ASSERT_EQ(flashed.outcome, "success");
    const std::vector<std::string> statusLines = box.status.lines();
    SimulatedBox second;
    const SessionRecord missing = LoggedDownload(second, firmware.dir.Path("missing.mot"));
    EXPECT_EQ(AppendSessionRecord(log, flashed), 0);
    EXPECT_EQ(AppendSessionRecord(log, missing), 0);

    const auto lines = SplitLines(ReadFile(log));
    const std::regex head(R"(=== \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z Kestrel Loader (.*))");
    std::vector<std::size_t> heads;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch match;
        if (std::regex_match(lines[i], match, head)) {
            heads.push_back(i);
            EXPECT_EQ(match[1].str(), kToolVersion);
        }
    }
    ASSERT_EQ(heads.size(), 2u);
    ASSERT_EQ(heads[0], 0u);

    const std::vector<std::string> first(lines.begin() + 1, lines.begin() + static_cast<std::ptrdiff_t>(heads[1]));
    ASSERT_GE(first.size(), 7u + statusLines.size());
    EXPECT_EQ(first[0], "port: USB:KST00001");
    EXPECT_EQ(first[1], "identity: USB 0403:6001 Kestrel box, serial KST00001");
    EXPECT_EQ(first[2], "baud: 115200");
    EXPECT_EQ(first[3], "file: " + firmware.mot);
    EXPECT_EQ(first[4], "image: 131078 bytes, sha256 " +
                            Sha256Hex(firmware.motImage.data(), firmware.motImage.size()));
    const std::regex statusLine(R"re(line \+\d+\.\d{3}s "(.*)")re");
    for (std::size_t i = 0; i < statusLines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(first[5 + i], match, statusLine)) << first[5 + i];
        EXPECT_EQ(match[1].str(), statusLines[i]);
    }
    EXPECT_EQ(first[5 + statusLines.size()], "result: success, exit 0, 1.500 s");
    EXPECT_EQ(first.back(), "");  // an empty line ends each record

    // No image was built for the missing file: neither its size nor a line rate is claimed.
    const std::vector<std::string> last(lines.begin() + static_cast<std::ptrdiff_t>(heads[1]) + 1, lines.end());
    ASSERT_GE(last.size(), 6u);
    EXPECT_EQ(last[2], "baud: none");
    EXPECT_EQ(last[4], "image: none");
    EXPECT_EQ(last[last.size() - 2], "result: file-failed, exit 4, 1.500 s");
}

TEST(SessionLog, LineTimesCountFromTheRecordersStart) {
    ManualClock clock(1000);
    SessionLogRecorder recorder(nullptr, clock);
    clock.Advance(250);
    recorder.AppendStatus("Opening interface... ");
    recorder.Clear();  // the workflow empties its list; the record keeps its lines
    clock.Advance(12345);
    recorder.AppendStatus("FLASHING SUCCESSFULL");
    ASSERT_EQ(recorder.Lines().size(), 2u);
    EXPECT_EQ(recorder.Lines()[0].atMs, 250u);
    EXPECT_EQ(recorder.Lines()[1].atMs, 12595u);

    SessionRecord record;
    record.lines = recorder.Lines();
    const std::string text = FormatSessionRecord(record);
    EXPECT_NE(text.find("line +12.595s \"FLASHING SUCCESSFULL\"\n"), std::string::npos) << text;
}

TEST(SessionLog, AnUnwritableLogIsReportedByItsErrno) {
    LineFirmware firmware;
    EXPECT_EQ(AppendSessionRecord(firmware.dir.Path("no-such-dir/line.log"), SessionRecord{}), ENOENT);
    EXPECT_EQ(AppendSessionRecord(firmware.dir.Path(""), SessionRecord{}), EISDIR);
}

}  // namespace
}  // namespace kestrel::testing
