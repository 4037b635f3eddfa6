// What each box gets of its own, as the boxes receive it and the records keep
// it: a serial number in each format, a gang's own images, a counter left by a
// run killed mid-download, rows of unit data, labels.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "CliSupport.h"
#include "support/Firmware.h"

namespace kestrel::testing {
namespace {

constexpr std::size_t kFieldOffset = 6 + 0x1000;  // of 0xE1000 in an S-record image

// The values a log's started records carry under `key`, in order.
Lines StartedValues(const std::string& log, const std::string& key) {
    Lines values;
    for (std::size_t at = 0; (at = log.find("record: started\n", at)) != std::string::npos; ++at) {
        const std::size_t line = log.find("\n" + key + ": ", at) + key.size() + 3;
        values.push_back(log.substr(line, log.find('\n', line) - line));
    }
    return values;
}

// `received` is `image` but for the field: the field's bytes, or a note of what else differs.
std::string FieldOf(const std::string& received, std::string image, std::size_t length) {
    if (received.size() != image.size())
        return "an image of " + std::to_string(received.size()) + " bytes";
    const std::string field = received.substr(kFieldOffset, length);
    return received == image.replace(kFieldOffset, length, field) ? field : "a byte outside the field differs";
}

TEST(KestrelFlashUnits, EachBoxGetsItsOwnNumberInEachFormatAndAGangItsOwnImages) {
    FirmwareFiles f;
    const std::string image(f.motImage.begin(), f.motImage.end());
    // Each format with the fields its boxes get, one box for each of the numbers 7, 8, 9 given.
    for (const auto& [format, fields] : std::vector<std::pair<std::string, Lines>>{
             {"u32le", {std::string("\x07\0\0\0", 4), std::string("\x08\0\0\0", 4), std::string("\x09\0\0\0", 4)}},
             {"u32be", {std::string("\0\0\0\x07", 4)}},
             {"ascii:6", {"000007"}}}) {
        SCOPED_TRACE(format);
        std::vector<std::unique_ptr<BoxProcess>> boxes;
        const std::string counter = f.Path(format + ".counter"), log = f.Path(format + ".log");
        Lines args = {"-q", "--serial-at", "0xE1000", "--serial-format", format, "--serial-first", "7"};
        args.insert(args.end(), {"--serial-counter", counter, "--log", log});
        for (std::size_t i = 0; i < fields.size(); ++i) {
            boxes.push_back(std::make_unique<BoxProcess>());
            args.insert(args.end(), {"-p", boxes.back()->linkPath});
        }
        args.push_back(f.mot);
        const auto run = Flash(args);
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        // Each number once, each in the image of the box whose record names it.
        std::set<std::string> received;
        for (const auto& box : boxes)
            received.insert(FieldOf(box->SavedImage(1), image, fields.front().size()));
        EXPECT_EQ(received, std::set<std::string>(fields.begin(), fields.end()));
        EXPECT_EQ(ReadFile(counter), std::to_string(7 + fields.size()) + "\n");
        const Lines serials = StartedValues(ReadFile(log), "serial");
        EXPECT_EQ(std::set<std::string>(serials.begin(), serials.end()).size(), fields.size());
    }
}

// Killed with -9 once its box erases: the number it took stays taken, and the report says it is void. Processes
// sharing a counter are SerialCounter's (TraceTest).
TEST(KestrelFlashUnits, ANumberTakenByARunKilledMidDownloadIsNeverGivenAgain) {
    FirmwareFiles f;
    const std::string counter = f.dir.Write("shared.counter", std::string("13\n"));
    BoxProcess box({"--silent-at", "data"});
    const auto killed = Flash(
        {"--serial-at", "0xE1000", "--serial-counter", counter, "--log", f.Path("k.log"), "-p", box.linkPath, f.mot},
        {.signalAfter = "Erasing flash", .signalToSend = SIGKILL});
    EXPECT_EQ(killed.exitStatus, -1);
    EXPECT_EQ(StartedValues(ReadFile(f.Path("k.log")), "serial"), Lines{"13"});
    EXPECT_EQ(ReadFile(counter), "14\n");
    EXPECT_NE(Flash({"--report", f.Path("k.log")}).out.find("lot : serials 13..13, void 13\n"), std::string::npos);
}

// Rows of unit data each go to one box, in order; then boxes are refused. A label passes once, unless reworked.
TEST(KestrelFlashUnits, UnitRowsAreUsedOnceAndALabelThatPassedIsRefusedUnlessReworked) {
    FirmwareFiles f;
    const std::string rows = f.dir.Write("macs.txt", std::string("00:11:22:33:44:55\n# spare\n66-77-88-99-aa-bb\n"));
    const std::string log = f.Path("units.log");
    const auto run =
        Flash({"-q", "--emulate", "--repeat", "3", "--serial-at", "0xE1000", "--unit-data", rows, "--log", log, f.mot});
    EXPECT_EQ(run.exitStatus, 5);
    EXPECT_NE(run.err.find("every row of the unit data " + rows + " is used (2 rows): not flashed"), std::string::npos)
        << run.err;
    EXPECT_EQ(StartedValues(ReadFile(log), "unit"), (Lines{"001122334455, line 1", "66778899aabb, line 3"}));
    EXPECT_EQ(ReadFile(rows + ".used"), "2\n");

    const std::string labels = f.Path("labels.log");
    const Lines once = {"-q", "--emulate", "--label", "SN-0042", "--log", labels, f.mot};
    EXPECT_EQ(Flash(once).exitStatus, 0);
    const auto again = Flash(once);
    EXPECT_EQ(again.exitStatus, 12);
    EXPECT_NE(again.err.find("the label SN-0042 passed already"), std::string::npos) << again.err;
    EXPECT_EQ(Flash(Concat<std::string>({{"--rework"}, once})).exitStatus, 0);
    EXPECT_EQ(StartedValues(ReadFile(labels), "rework"), (Lines{"no", "yes"}));  // the refused box began nothing
    EXPECT_NE(Flash({"--report", labels}).out.find("lot : reworked SN-0042\n"), std::string::npos);
}

// A field that does not fit is refused before any box; --check tells whether it lies over the file's bytes.
TEST(KestrelFlashUnits, AFieldOutsideTheImageIsRefusedAndCheckSaysWhatItCovers) {
    FirmwareFiles f;
    const std::string counter = f.Path("c");
    const std::tuple<Lines, int, std::string> cases[] = {
        {{"--emulate", "--serial-at", "0xFFFFE", "--serial-counter", counter, f.mot}, 5, "outside the flash window"},
        {{"--emulate", "--serial-at", "12", "--serial-counter", counter, f.bin}, 5, "30-byte header"},
        {{"--check", "--serial-at", "0xE0100", f.mot}, 1, "lies over bytes the file sets"},
        {{"--check", "--serial-at", "0xE1000", "--serial-format", "ascii:8", f.mot}, 0, "(8 bytes) lies over no byte"},
    };
    for (const auto& [args, status, said] : cases) {
        const auto run = Flash(args);
        EXPECT_EQ(run.exitStatus, status) << said;
        EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
        EXPECT_TRUE(status != 5 || run.out.empty()) << run.out;  // no box touched
    }
}

}  // namespace
}  // namespace kestrel::testing
