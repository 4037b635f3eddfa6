// JSON lines as a pipe reads them: strings escaped, and progress timed by the clock.
#include "StationTestSupport.h"

namespace kestrel::testing {
namespace {

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
    const auto event = [](const std::string& name, const char* t, const std::string& rest) {
        return R"({"event":")" + name + R"(","schema":3,"t":)" + t +
               R"(,"operator":"","station":"","lot":"","attempt":null,)" + rest + "}";
    };
    EXPECT_EQ(
        SplitLines(out.str()),
        (Lines{
            event("progress", "0.000", R"("stage":"writing","done":200,"total":1000,"rate":null,"left":null)"),
            event("progress", "2.000", R"("stage":"reading-back","done":0,"total":994,"rate":null,"left":null)"),
            event("progress", "3.000", R"("stage":"reading-back","done":497,"total":994,"rate":497.000,"left":1.000)"),
            event("result", "3.000",
                  R"("outcome":"verify-failed","exit":8,"sha256":null,"seconds":1.000,"manifest":null,)"
                  R"("approved_sha256":null,"firmware_sha256":null,"serial":null,"unit":null,"label":null,)"
                  R"("rework":false)")}));
}

}  // namespace
}  // namespace kestrel::testing
