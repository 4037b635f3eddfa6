// What a download reports for a line's records: JSON lines, the session log
// and the image's digest.
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>

#include "StationTestSupport.h"
#include "session/Version.h"
#include "station/RecordedDownload.h"
#include "station/SessionLog.h"

namespace kestrel::testing {
namespace {

std::vector<JsonFields> ParseAll(const std::string& text) {
    std::vector<JsonFields> objects;
    for (const auto& line : SplitLines(text)) {
        const auto fields = JsonCheck::Parse(line);
        EXPECT_TRUE(fields.has_value()) << "not one JSON object: " << line;
        if (fields)
            objects.push_back(*fields);
    }
    return objects;
}

TEST(Sha256, KnownVectors) {
    for (const auto& [text, digest] : std::vector<std::pair<std::string, std::string>>{
             {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
             {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
             // 55 bytes: the one bit and the length just fit; 56: they no longer do.
             {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
             {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
             {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}}) {
        EXPECT_EQ(Sha256Of(Bytes(text.begin(), text.end())), digest);
    }
}

TEST(JsonString, EscapesWhatJsonForbidsAndReadsBackAsTheSameBytes) {
    for (const auto& [text, literal] : std::vector<std::pair<std::string, std::string>>{
             {"Opening interface... ", "\"Opening interface... \""},
             {std::string("say \"hi\"\\ a\nb\tc\rd\x01\x1f\x7f\0", 21),
              "\"say \\\"hi\\\"\\\\ a\\nb\\tc\\rd\\u0001\\u001f\\u007f\\u0000\""},
             {"\xc3\xbc \xf0\x9f\x98\x80", "\"\xc3\xbc \xf0\x9f\x98\x80\""},  // valid UTF-8 of two and four bytes stays
             // A Latin-1 byte, an overlong form, a surrogate, a sequence cut short.
             {"\xfc \xc0\x80 \xed\xa0\x80 \xe2\x82",
              "\"\\u00fc \\u00c0\\u0080 \\u00ed\\u00a0\\u0080 \\u00e2\\u0082\""}}) {
        SCOPED_TRACE(literal);
        EXPECT_EQ(JsonString(text), literal);
        const auto fields = JsonCheck::Parse("{\"v\":" + JsonString(text) + "}");
        ASSERT_TRUE(fields.has_value());
        EXPECT_EQ(fields->at("v").text, text);  // escaped single bytes come back as those bytes
    }
}

TEST(JsonLinesStatusList, RateAndTimeLeftFollowTheClockFromTheStageStartAndAResultNeedsNoImage) {
    std::ostringstream out;
    JsonLineWriter writer(out);
    ManualClock clock(5000);
    JsonLinesStatusList list(writer, nullptr, "/dev/ttyUSB0", clock);
    list.Progress(ProgressStage::WritingData, 0, 1000);
    clock.Advance(500);
    list.Progress(ProgressStage::WritingData, 250, 1000);
    clock.Advance(1500);
    list.Progress(ProgressStage::WritingData, 1000, 1000);
    list.Progress(ProgressStage::ReadingBack, 0, 994);  // a new stage starts its own rate
    list.Result(DownloadOutcome::VerifyFailed, 8, "", 1.0);
    const auto objects = ParseAll(out.str());
    ASSERT_EQ(objects.size(), 5u);
    const std::vector<std::tuple<std::size_t, std::string, double>> numbers = {
        {1, "t", 0.5},    {1, "done", 250}, {1, "rate", 500}, {1, "left", 1.5},
        {2, "rate", 500}, {2, "left", 0},   {3, "t", 2.0},    {4, "exit", 8}};
    for (const auto& [i, key, value] : numbers) {
        EXPECT_DOUBLE_EQ(objects[i].at(key).number, value) << i << key;
    }
    for (const auto& [i, key] : {std::pair{0, "rate"}, {0, "left"}, {3, "rate"}, {4, "sha256"}})
        EXPECT_EQ(objects[i].at(key).type, JsonValue::Type::Null) << i << key;
    EXPECT_EQ(objects[3].at("stage").text + " " + objects[4].at("outcome").text, "reading-back verify-failed");
    for (const auto& object : objects)
        EXPECT_EQ(object.at("port").text, "/dev/ttyUSB0");
}

// One download as a front end reports it: a record over JSON lines over the
// box's list; the image's details from the session once it is built.
struct ReportedDownload {
    explicit ReportedDownload(const std::string& file) {
        SessionRecordBuilder builder("USB", file, &json);
        outcome = RunDownload("USB", file, builder.Status(), builder.Hooked(box.Options()));
        record = builder.Finish(outcome, 1.5, box.driver);
        json.Result(outcome, record.exitStatus, record.imageSha256, 12.25);
    }
    SimulatedBox box;
    std::ostringstream out;
    JsonLineWriter writer{out};
    JsonLinesStatusList json{writer, &box.status, {}, box.clock};
    SessionRecord record;
    DownloadOutcome outcome = DownloadOutcome::Cancelled;
};

// `text` with every digit shown as '#': a date or a time compares by its form.
std::string Form(std::string text) {
    for (char& c : text)
        c = std::isdigit(static_cast<unsigned char>(c)) ? '#' : c;
    return text;
}

TEST(DownloadReports, AWholeDownloadGivesItsLinesInOrderAsJsonAndAsALogRecordAfterTheLast) {
    FirmwareFiles firmware;
    const ReportedDownload run(firmware.mot);
    ASSERT_EQ(run.outcome, DownloadOutcome::Success);
    const Lines statusLines = run.box.status.lines();
    const auto objects = ParseAll(run.out.str());
    ASSERT_FALSE(objects.empty());
    Lines jsonLines;
    std::map<std::string, double> lastDone;
    for (const auto& object : objects) {
        EXPECT_EQ(object.count("port"), 0u);  // none was given
        if (object.at("event").text == "status")
            jsonLines.push_back(object.at("line").text);
        if (object.at("event").text != "progress")
            continue;
        const std::string& stage = object.at("stage").text;
        EXPECT_LE(object.at("done").number, object.at("total").number);
        EXPECT_GE(object.at("done").number, lastDone[stage]) << stage;
        lastDone[stage] = object.at("done").number;
    }
    EXPECT_EQ(jsonLines, statusLines);
    // The whole image went out, and all of it after its six-byte head came back.
    const double size = static_cast<double>(firmware.motImage.size());
    EXPECT_EQ(lastDone, (std::map<std::string, double>{{"writing", size}, {"reading-back", size - 6}}));
    const auto& result = objects.back();
    const std::string digest = Sha256Of(firmware.motImage);
    EXPECT_EQ(result.at("event").text + result.at("outcome").text + result.at("sha256").text, "resultsuccess" + digest);
    EXPECT_DOUBLE_EQ(result.at("exit").number, 0);
    EXPECT_DOUBLE_EQ(result.at("seconds").number, 12.25);

    const std::string log = firmware.Path("line.log");
    EXPECT_EQ(AppendSessionRecord(log, run.record), 0);
    EXPECT_EQ(AppendSessionRecord(log, ReportedDownload(firmware.missing).record), 0);
    std::ifstream in(log, std::ios::binary);
    const Lines lines = SplitLines(std::string(std::istreambuf_iterator<char>(in), {}));
    Lines expected = {"=== ####-##-##T##:##:##.###Z Kestrel Loader " + std::string(kToolVersion),
                      "port: USB",
                      "identity: USB 0403:6001 Kestrel box, serial KST00001",  // the box that opened
                      "baud: 115200",
                      "file: " + firmware.mot,
                      "image: 131078 bytes, sha256 " + digest};
    for (const auto& line : statusLines)  // line +SECONDS.MMMs "TEXT", the seconds as long as they need
        expected.push_back(std::string("line +#.###s \"") + line + "\"");
    expected.insert(expected.end(), {"result: success, exit 0, 1.500 s", ""});  // an empty line ends a record
    // No image was built for the missing file: neither its size nor a line rate is claimed.
    expected.insert(expected.end(),
                    {expected[0], expected[1], expected[2], "baud: none", "file: " + firmware.missing, "image: none"});
    ASSERT_GE(lines.size(), expected.size() + 2);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::string line = Form(lines[i]);
        if (line.starts_with("line +#"))
            line.erase(6, line.find_first_not_of('#', 6) - 7);
        EXPECT_EQ(line, Form(expected[i])) << i;
    }
    EXPECT_EQ(lines[lines.size() - 2], "result: file-failed, exit 4, 1.500 s");
    EXPECT_EQ(lines.back(), "");
}

TEST(SessionLog, LineTimesCountFromTheRecordersStartAndControlCharactersAreEscaped) {
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
    record.port = "/dev/a\tb\x1b\x7f";  // control characters cannot forge or hide a line
    const std::string text = FormatSessionRecord(record);
    EXPECT_NE(text.find("line +12.595s \"FLASHING SUCCESSFULL\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("port: /dev/a\\tb\\x1B\\x7F\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace kestrel::testing
