#include "cli/UnitOptions.h"

#include <charconv>

#include <CLI/CLI.hpp>

namespace kestrel::cli {

namespace {

// An address or offset: decimal, or hexadecimal after 0x.
bool ParseAddress(const std::string& text, std::uint32_t& address) {
    const bool hex = text.starts_with("0x") || text.starts_with("0X");
    const char* begin = text.data() + (hex ? 2 : 0);
    const auto [end, error] = std::from_chars(begin, text.data() + text.size(), address, hex ? 16 : 10);
    return begin != text.data() + text.size() && error == std::errc() && end == text.data() + text.size();
}

}  // namespace

void AddUnitOptions(CLI::App& app, StationOptions& station) {
    auto* at = app.add_option("--serial-at", station.serialAt,
                              "Write each box's own serial number (or unit data row) into its image here: an address "
                              "in 0xE0000..0xFFFFF for a .mot, a byte offset past the 30-byte header for a .bin")
                   ->type_name("ADDRESS")
                   ->check([](const std::string& text) {
                       std::uint32_t address = 0;
                       return ParseAddress(text, address) ? std::string() : "not an address: " + text;
                   });
    auto* format = app.add_option("--serial-format", station.serialFormat,
                                  "How the number is written: u32le, u32be, or ascii:N (decimal, N digits)")
                       ->type_name("FORMAT")
                       ->check([](const std::string& text) {
                           SerialFormat parsed;
                           return ParseSerialFormat(text, parsed);
                       })
                       ->capture_default_str();
    auto* counter = app.add_option("--serial-counter", station.serialCounter,
                                   "The file that holds the next serial number; each box takes one, written to the "
                                   "disk before the box's first byte, never given twice. db:NAME: the sequence NAME "
                                   "of the --db database (made when missing), for every station at once")
                        ->type_name("FILE|db:NAME");
    auto* block = app.add_option("--serial-block", station.serialBlock,
                                 "With --serial-counter db:NAME: how many numbers the station reserves at once "
                                 "(default 100; the step of the sequence when it is made), kept beside the log so "
                                 "that the line goes on while the database is down")
                      ->type_name("N")
                      ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1000000}));
    auto* first = app.add_option("--serial-first", station.serialFirst,
                                 "The first number, when the --serial-counter file or sequence is made")
                      ->type_name("N")
                      ->capture_default_str();
    auto* unitData = app.add_option("--unit-data", station.unitData,
                                    "One row of hex bytes per unit (a MAC address, a key), written at --serial-at; "
                                    "each row goes to one box, in order")
                         ->type_name("FILE");
    auto* label = app.add_option("--label", station.label,
                                 "The label on the box's case (a scanned barcode): in its records; a label that "
                                 "passed before is refused with status 12")
                      ->type_name("TEXT");
    auto* rework = app.add_flag("--rework", station.rework, "Flash a box whose --label passed before; recorded so");
    counter->needs(at);
    unitData->needs(at);
    first->needs(counter);
    block->needs(counter);
    format->needs(at);
    rework->needs(label);
}

std::string UnitOptionsOf(const StationOptions& station, UnitOptions& units, bool fieldOnly) {
    if (station.serialAt.empty()) {
        return {};
    }
    if (!fieldOnly && station.serialCounter.empty() && station.unitData.empty()) {
        return "--serial-at needs --serial-counter or --unit-data";
    }
    std::uint32_t address = 0;
    ParseAddress(station.serialAt, address);
    units.fieldAt = address;
    units.counter = station.serialCounter;
    units.unitData = station.unitData;
    units.first = station.serialFirst;
    if (station.serialBlock != 0 && !station.serialCounter.starts_with("db:")) {
        return "--serial-block needs --serial-counter db:NAME";
    }
    units.block = station.serialBlock != 0 ? station.serialBlock : units.block;
    units.database = station.database;
    return ParseSerialFormat(station.serialFormat, units.format);
}

}  // namespace kestrel::cli
