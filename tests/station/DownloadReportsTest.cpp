// What a download reports for a line's records: JSON lines, the session log
// and the image's digest.
#include <regex>

#include "StationTestSupport.h"
#include "session/Version.h"
#include "station/RecordedDownload.h"
#include "station/SessionLog.h"

namespace kestrel::testing {
namespace {

// A whole image's digest, many blocks long, is checked against sha256sum by check-trace.py.
TEST(Sha256, KnownVectors) {
    for (const auto& [text, digest] : std::vector<std::pair<std::string, std::string>>{
             // 55 bytes: the one bit and the length just fit; 56: they no longer do.
             {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
             {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"}}) {
        EXPECT_EQ(Sha256Of(text), digest);
    }
}

TEST(JsonString, EscapesWhatJsonForbidsAndKeepsValidUtf8) {
    EXPECT_EQ(JsonString(std::string("say \"hi\"\\ a\nb\tc\rd\x01\x1f\x7f\0", 21)),
              "\"say \\\"hi\\\"\\\\ a\\nb\\tc\\rd\\u0001\\u001f\\u007f\\u0000\"");
    // Valid UTF-8 (U+D7FF and U+E000 around the surrogates too) stays; a Latin-1 byte, an overlong form, a lone high
    // or low surrogate, a cut sequence do not.
    EXPECT_EQ(
        JsonString("\xc3\xbc\xf0\x9f\x98\x80\xed\x9f\xbf\xee\x80\x80 \xfc \xc0\x80 \xed\xa0\x80 \xed\xbf\xbf \xe2\x82"),
        "\"\xc3\xbc\xf0\x9f\x98\x80\xed\x9f\xbf\xee\x80\x80 \\u00fc \\u00c0\\u0080 "
        "\\u00ed\\u00a0\\u0080 \\u00ed\\u00bf\\u00bf \\u00e2\\u0082\"");
}

TEST(JsonLinesStatusList, RateAndTimeLeftFollowTheClockFromTheStageStartAndAResultNeedsNoImage) {
    std::ostringstream out;
    JsonLineWriter writer(out);
    ManualClock clock(5000);
    JsonLinesStatusList list(writer, nullptr, "", clock);
    list.Progress(ProgressStage::WritingData, 200, 1000);  // a stage's first event: no time behind it, no rate
    clock.Advance(2000);
    list.Progress(ProgressStage::ReadingBack, 0, 994);  // a new stage starts its own rate
    clock.Advance(1000);
    list.Progress(ProgressStage::ReadingBack, 497, 994);
    list.Result(DownloadOutcome::VerifyFailed, 8, "", 1.0);
    const std::string trace = R"("operator":"","station":"","lot":"","attempt":null,)";
    EXPECT_EQ(SplitLines(out.str()),
              (Lines{R"({"event":"progress","schema":3,"t":0.000,)" + trace +
                         R"("stage":"writing","done":200,"total":1000,"rate":null,"left":null})",
                     R"({"event":"progress","schema":3,"t":2.000,)" + trace +
                         R"("stage":"reading-back","done":0,"total":994,"rate":null,"left":null})",
                     R"({"event":"progress","schema":3,"t":3.000,)" + trace +
                         R"("stage":"reading-back","done":497,"total":994,"rate":497.000,"left":1.000})",
                     R"({"event":"result","schema":3,"t":3.000,)" + trace +
                         R"("outcome":"verify-failed","exit":8,"sha256":null,"seconds":1.000,"manifest":null,)"
                         R"("approved_sha256":null,"firmware_sha256":null,"serial":null,"unit":null,"label":null,)"
                         R"("rework":false})"}));
}

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
    Lines expected = {Form("=== 2000-01-01T00:00:00.000Z Kestrel Loader " + std::string(kToolVersion)),
                      "schema: 3",
                      "record: result",
                      "operator: Ada",
                      "station: S1",
                      "lot: L7",
                      "attempt: 2",
                      "port: USB",
                      "identity: USB 0403:6001 Kestrel box, serial KST00001",  // the box that opened
                      "box: none",
                      "baud: 115200",
                      "file: " + firmware.mot,
                      "image: 131078 bytes, sha256 " + Sha256Of(firmware.motImage),
                      "approved: none",
                      "firmware: none",  // the recorded download was not a lot's: no file read before it
                      "serial: none",
                      "unit: none",
                      "label: none",
                      "rework: no"};
    for (const auto& line : box.status.lines())
        expected.push_back(Form("line +0.000s \"" + line + "\""));
    // The first record of a log chains to the start value; an empty line ends a record.
    expected.insert(expected.end(),
                    {"result: success, exit 0, 1.500 s", "prev: " + std::string(64, '0'), Form("sha256: "), ""});
    Lines lines = SplitLines(ReadFile(log));
    std::transform(lines.begin(), lines.end(), lines.begin(), Form);
    EXPECT_EQ(lines, expected);
}

TEST(SessionLog, LineTimesCountFromTheRecordersStartAndControlCharactersAreEscaped) {
    ManualClock clock(1000);
    SessionLogRecorder recorder(nullptr, clock);
    clock.Advance(250);
    recorder.AppendStatus("Opening interface... ");
    recorder.Clear();  // the workflow empties its list; the record keeps its lines
    clock.Advance(12345);
    recorder.AppendStatus("FLASHING SUCCESSFULL");
    SessionRecord record;
    record.lines = recorder.Lines();
    // Control characters in a field cannot forge or hide a line.
    record.fileName = "/tmp/no\nsu\tch\x1b[2J\x7f.mot";
    const std::string text = FormatSessionRecord(record);
    for (const std::string part : {"line +0.250s \"Opening interface... \"\nline +12.595s \"FLASHING SUCCESSFULL\"\n",
                                   "file: /tmp/no\\nsu\\tch\\x1B[2J\\x7F.mot\n"})
        EXPECT_NE(text.find(part), std::string::npos) << text;
}

}  // namespace
}  // namespace kestrel::testing
