// What a download reports for a line's records: JSON lines, the session log
// and the image's digest.
#include <cctype>
#include <chrono>
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
    const std::vector<std::pair<std::string, std::string>> vectors = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits behind the message in its block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [text, digest] : vectors)
        EXPECT_EQ(Sha256Of(Bytes(text.begin(), text.end())), digest);
}

TEST(JsonString, EscapesWhatJsonForbidsAndReadsBackAsTheSameBytes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Opening interface... ", "\"Opening interface... \""},
        {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
        {"a\nb\tc\rd", "\"a\\nb\\tc\\rd\""},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
        {std::string("\0", 1), "\"\\u0000\""},
        {"Info \xc3\xbc"
         "ber",
         "\"Info \xc3\xbc"
         "ber\""},  // valid UTF-8 stays
        {"\xfc"
         "ber",
         "\"\\u00fcber\""},                             // a Latin-1 byte
        {"\xc0\x80", "\"\\u00c0\\u0080\""},             // overlong form
        {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},  // a surrogate
        {"\xe2\x82", "\"\\u00e2\\u0082\""},             // cut short
        {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},   // four bytes
    };
    for (const auto& [text, literal] : cases) {
        SCOPED_TRACE(literal);
        EXPECT_EQ(JsonString(text), literal);
        const auto fields = JsonCheck::Parse("{\"v\":" + JsonString(text) + "}");
        ASSERT_TRUE(fields.has_value());
        // Escaped single bytes come back as those bytes; passed-through UTF-8 as itself.
        EXPECT_EQ(fields->at("v").text, text);
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
    for (const auto& [i, key, value] : numbers)
        EXPECT_DOUBLE_EQ(objects[i].at(key).number, value) << i << key;
    for (const auto& [i, key] : {std::pair{0, "rate"}, {0, "left"}, {3, "rate"}, {4, "sha256"}}) {
        EXPECT_EQ(objects[i].at(key).type, JsonValue::Type::Null) << i << key;
    }
    EXPECT_EQ(objects[0].at("event").text, "progress");
    EXPECT_EQ(objects[3].at("stage").text, "reading-back");
    EXPECT_EQ(objects[4].at("outcome").text, "verify-failed");
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

TEST(JsonLinesStatusList, AWholeDownloadGivesItsStatusLinesInOrderWithProgressAndTheResult) {
    FirmwareFiles firmware;
    const ReportedDownload run(firmware.mot);
    ASSERT_EQ(run.outcome, DownloadOutcome::Success);
    const auto objects = ParseAll(run.out.str());
    ASSERT_FALSE(objects.empty());
    Lines statusLines;
    std::map<std::string, std::uint32_t> lastDone;
    for (std::size_t i = 0; i + 1 < objects.size(); ++i) {
        const auto& object = objects[i];
        EXPECT_EQ(object.count("port"), 0u);  // none was given
        if (object.at("event").text == "status") {
            statusLines.push_back(object.at("line").text);
            continue;
        }
        ASSERT_EQ(object.at("event").text, "progress");
        const std::string& stage = object.at("stage").text;
        const auto done = static_cast<std::uint32_t>(object.at("done").number);
        EXPECT_LE(done, object.at("total").number);
        EXPECT_GE(done, lastDone[stage]) << stage;
        lastDone[stage] = done;
    }
    EXPECT_EQ(statusLines, run.box.status.lines());
    // The whole image went out, and all of it after its six-byte head came back.
    EXPECT_EQ(lastDone["writing"], firmware.motImage.size());
    EXPECT_EQ(lastDone["reading-back"], firmware.motImage.size() - 6);

    const auto& result = objects.back();
    EXPECT_EQ(result.at("event").text, "result");
    EXPECT_EQ(result.at("outcome").text, "success");
    EXPECT_DOUBLE_EQ(result.at("exit").number, 0);
    EXPECT_DOUBLE_EQ(result.at("seconds").number, 12.25);
    EXPECT_EQ(result.at("sha256").text, Sha256Of(firmware.motImage));
}

// `text` with every digit shown as '#': a date or a time compares by its form.
std::string Form(std::string text) {
    for (char& c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)))
            c = '#';
    }
    return text;
}

TEST(SessionLog, RecordsOfDownloadsAreAppendedWithEveryLineInOrder) {
    FirmwareFiles firmware;
    const std::string log = firmware.Path("line.log");
    const ReportedDownload flashed(firmware.mot);
    ASSERT_EQ(flashed.record.outcome, "success");
    const Lines statusLines = flashed.box.status.lines();
    EXPECT_EQ(AppendSessionRecord(log, flashed.record), 0);
    EXPECT_EQ(AppendSessionRecord(log, ReportedDownload(firmware.Path("missing.mot")).record), 0);

    std::ifstream in(log, std::ios::binary);
    const Lines lines = SplitLines(std::string(std::istreambuf_iterator<char>(in), {}));
    const std::string head = "=== ####-##-##T##:##:##.###Z ";
    std::vector<std::size_t> heads;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("=== ", 0) != 0)
            continue;
        heads.push_back(i);
        EXPECT_EQ(Form(lines[i].substr(0, head.size())), head) << lines[i];
        EXPECT_EQ(lines[i].substr(std::min(head.size(), lines[i].size())),
                  std::string("Kestrel Loader ") + kToolVersion);
    }
    ASSERT_EQ(heads.size(), 2u);
    ASSERT_EQ(heads[0], 0u);

    const Lines first(lines.begin() + 1, lines.begin() + static_cast<std::ptrdiff_t>(heads[1]));
    ASSERT_GE(first.size(), 7u + statusLines.size());
    EXPECT_EQ(first[0], "port: USB");
    EXPECT_EQ(first[1], "identity: USB 0403:6001 Kestrel box, serial KST00001");  // the box that opened
    EXPECT_EQ(first[2], "baud: 115200");
    EXPECT_EQ(first[3], "file: " + firmware.mot);
    EXPECT_EQ(first[4], "image: 131078 bytes, sha256 " + Sha256Of(firmware.motImage));
    for (std::size_t i = 0; i < statusLines.size(); ++i) {
        // line +SECONDS.MMMs "TEXT", with one or more digits before the point
        const std::string& line = first[5 + i];
        const std::size_t quote = std::min(line.find(" \""), line.size());
        const std::string stamp = Form(line.substr(0, quote));
        EXPECT_EQ(stamp, "line +" + std::string(std::max<std::size_t>(stamp.size(), 12) - 11, '#') + ".###s");
        EXPECT_EQ(line.substr(quote), " \"" + statusLines[i] + "\"");
    }
    EXPECT_EQ(first[5 + statusLines.size()], "result: success, exit 0, 1.500 s");
    EXPECT_EQ(first.back(), "");  // an empty line ends each record

    // No image was built for the missing file: neither its size nor a line rate is claimed.
    const Lines last(lines.begin() + static_cast<std::ptrdiff_t>(heads[1]) + 1, lines.end());
    ASSERT_GE(last.size(), 6u);
    EXPECT_EQ(last[2], "baud: none");
    EXPECT_EQ(last[4], "image: none");
    EXPECT_EQ(last[last.size() - 2], "result: file-failed, exit 4, 1.500 s");
}

TEST(SessionLog, LineTimesCountFromTheRecordersStartAndAnUnwritableLogGivesItsErrno) {
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

    TempDir dir;
    EXPECT_EQ(AppendSessionRecord((dir.Path() / "no-such-dir/line.log").string(), record), ENOENT);
    EXPECT_EQ(AppendSessionRecord(dir.Path().string(), record), EISDIR);
}

}  // namespace
}  // namespace kestrel::testing
