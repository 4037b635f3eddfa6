#include "session/JsonLines.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "JsonCheck.h"
#include "LineTestSupport.h"
#include "session/DownloadWorkflow.h"
#include "session/RecordingStatusList.h"
#include "session/Sha256.h"
#include "support/SimulatedBox.h"

namespace kestrel::testing {
namespace {

std::vector<JsonFields> ParseAll(const std::string& text) {
    std::vector<JsonFields> objects;
    for (const auto& line : SplitLines(text)) {
        const auto fields = JsonCheck::Parse(line);
        EXPECT_TRUE(fields.has_value()) << "not one JSON object: " << line;
        if (fields) objects.push_back(*fields);
    }
    return objects;
}

TEST(JsonString, EscapesWhatJsonForbidsAndReadsBackAsTheSameBytes) {
    struct Case {
        std::string text;
        std::string literal;
    };
    const std::vector<Case> cases = {
        {"Opening interface... ", "\"Opening interface... \""},
        {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
        {"a\nb\tc\rd", "\"a\\nb\\tc\\rd\""},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
        {std::string("\0", 1), "\"\\u0000\""},
        {"Info \xc3\xbc" "ber", "\"Info \xc3\xbc" "ber\""},         // valid UTF-8 stays
        {"\xfc" "ber", "\"\\u00fcber\""},                                // a Latin-1 byte
        {"\xc0\x80", "\"\\u00c0\\u0080\""},                              // overlong form
        {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},                   // a surrogate
        {"\xe2\x82", "\"\\u00e2\\u0082\""},                              // cut short
        {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},                    // four bytes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonString(c.text), c.literal);
        const auto fields = JsonCheck::Parse("{\"v\":" + JsonString(c.text) + "}");
        ASSERT_TRUE(fields.has_value()) << c.literal;
        // Escaped single bytes come back as those bytes; passed-through UTF-8 as itself.
        EXPECT_EQ(fields->at("v").text, c.text) << c.literal;
    }
}

TEST(JsonLinesStatusList, RateAndTimeLeftFollowTheClockFromTheStageStart) {
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

    const auto objects = ParseAll(out.str());
    ASSERT_EQ(objects.size(), 4u);
    EXPECT_EQ(objects[0].at("event").text, "progress");
    EXPECT_EQ(objects[0].at("port").text, "/dev/ttyUSB0");
    EXPECT_EQ(objects[0].at("rate").type, JsonValue::Type::Null);
    EXPECT_EQ(objects[0].at("left").type, JsonValue::Type::Null);
    EXPECT_DOUBLE_EQ(objects[1].at("t").number, 0.5);
    EXPECT_DOUBLE_EQ(objects[1].at("done").number, 250);
    EXPECT_DOUBLE_EQ(objects[1].at("rate").number, 500);
    EXPECT_DOUBLE_EQ(objects[1].at("left").number, 1.5);
    EXPECT_DOUBLE_EQ(objects[2].at("rate").number, 500);
    EXPECT_DOUBLE_EQ(objects[2].at("left").number, 0);
    EXPECT_EQ(objects[3].at("stage").text, "reading-back");
    EXPECT_EQ(objects[3].at("rate").type, JsonValue::Type::Null);
    EXPECT_DOUBLE_EQ(objects[3].at("t").number, 2.0);
}

TEST(JsonLinesStatusList, AWholeDownloadGivesItsStatusLinesInOrderWithProgressAndTheResult) {
    LineFirmware firmware;
    SimulatedBox box;
    std::ostringstream out;
    JsonLineWriter writer(out);
    JsonLinesStatusList list(writer, &box.status, {}, box.clock);
    std::string digest;
    SessionOptions options = box.Options();
    options.imageReady = [&digest](const std::uint8_t* image, std::uint32_t length, std::uint8_t) {
        digest = Sha256Hex(image, length);
    };
    const DownloadOutcome outcome = RunDownload("USB", firmware.mot, list, options);
    ASSERT_EQ(outcome, DownloadOutcome::Success);
    list.Result(outcome, 0, digest, 12.25);

    const auto objects = ParseAll(out.str());
    ASSERT_FALSE(objects.empty());
    std::vector<std::string> statusLines;
    std::map<std::string, std::uint32_t> lastDone;
    for (std::size_t i = 0; i + 1 < objects.size(); ++i) {
        const auto& object = objects[i];
        EXPECT_EQ(object.count("port"), 0u);  // none was given
        const std::string& event = object.at("event").text;
        if (event == "status") {
            statusLines.push_back(object.at("line").text);
            continue;
        }
        ASSERT_EQ(event, "progress");
        const std::string& stage = object.at("stage").text;
        const auto done = static_cast<std::uint32_t>(object.at("done").number);
        EXPECT_LE(done, object.at("total").number);
        EXPECT_GE(done, lastDone[stage]) << stage;
        lastDone[stage] = done;
    }
    EXPECT_EQ(statusLines, box.status.lines());
    // The whole data block after the six-byte head went out, and the whole image came back.
    EXPECT_EQ(lastDone["writing"], firmware.motImage.size());
    EXPECT_EQ(lastDone["reading-back"], firmware.motImage.size() - 6);

    const auto& result = objects.back();
    EXPECT_EQ(result.at("event").text, "result");
    EXPECT_EQ(result.at("outcome").text, "success");
    EXPECT_DOUBLE_EQ(result.at("exit").number, 0);
    EXPECT_DOUBLE_EQ(result.at("seconds").number, 12.25);
    EXPECT_EQ(result.at("sha256").text, Sha256Hex(firmware.motImage.data(), firmware.motImage.size()));
}

TEST(JsonLinesStatusList, AResultWithoutAnImageHasANullDigestAndTheOutcomeName) {
    std::ostringstream out;
    JsonLineWriter writer(out);
    JsonLinesStatusList list(writer, nullptr, "USB:KST00001");
    list.Result(DownloadOutcome::VerifyFailed, 8, "", 1.0);
    const auto objects = ParseAll(out.str());
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].at("outcome").text, "verify-failed");
    EXPECT_DOUBLE_EQ(objects[0].at("exit").number, 8);
    EXPECT_EQ(objects[0].at("sha256").type, JsonValue::Type::Null);
    EXPECT_EQ(objects[0].at("port").text, "USB:KST00001");
}

}  // namespace
}  // namespace kestrel::testing
