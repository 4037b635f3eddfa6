#include "StationTestSupport.h"
#include "station/SessionLog.h"

namespace kestrel::testing {
namespace {

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
