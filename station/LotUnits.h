#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "station/PreparedLot.h"
#include "station/SerialBlocks.h"
#include "station/UnitField.h"

namespace kestrel {

// What each box of a lot gets of its own, and from where.
struct UnitOptions {
    std::optional<std::uint32_t> fieldAt{};  // where it goes; none: every box gets the same image
    SerialFormat format{};
    std::string counter{};      // the file that holds the next serial number, or db:NAME: the database's sequence
    std::uint64_t first = 1;    // the first number, when the counter file or sequence is made
    std::uint64_t block = 100;  // with db:NAME, how many numbers a station takes from the sequence at once
    std::string database{};     // with db:NAME, the records database (--db)
    std::string log{};          // with db:NAME, the outbox: the station's block is kept beside it
    std::string unitData{};     // instead of a counter: one row of hex bytes per unit
    LockWait wait{};            // for another process's lock on the counter or the rows
};

// What one box received of its own.
struct BoxUnit {
    std::optional<std::uint64_t> serial;
    std::size_t line = 0;  // with unit data: the row's line in its file
    std::vector<std::uint8_t> bytes;

    bool Taken() const { return serial.has_value() || line != 0; }
    // For the records: the number, or the row and its line; empty when none.
    std::string Serial() const { return serial ? std::to_string(*serial) : std::string(); }
    std::string Unit() const { return line == 0 ? std::string() : HexBytes(bytes) + ", line " + std::to_string(line); }
};

// Hands each box of a lot its serial number or unit data row, once: taken under
// the file's lock and written to the disk before the box's first byte, so no
// number or row is given twice, across processes and after a kill or a power
// cut. A download that fails keeps what it took.
class LotUnits {
public:
    // Checks that the field fits the lot's image and that the counter (made
    // when missing) or the rows can be read; a refusal before any box is touched.
    static LotRefusal Prepare(const UnitOptions& options, const PreparedLot& lot, std::unique_ptr<LotUnits>& units);

    // The next box's own value. 0, or the exit status with `why` (every row used, a
    // number that does not fit, a counter that cannot be written): that box is not flashed.
    int Take(BoxUnit& unit, std::string& why);
    // Values for every box of `units` at once, in one write to the disk: a gang's boxes begin together.
    int Take(std::vector<BoxUnit>& units, std::string& why);
    // Writes `unit` into an image of the lot: a box's copy, or a session's buffer.
    void Personalise(const BoxUnit& unit, std::uint8_t* image, std::uint32_t length) const;

private:
    // The next `count` numbers of the counter file, each one handed to `fits`; 0 or the errno (EOVERFLOW: `unfit`).
    int TakeCounted(std::size_t count, const std::function<bool(std::size_t, std::uint64_t)>& fits,
                    std::vector<std::uint64_t>& numbers, std::uint64_t& unfit);

    UnitOptions options_;
    std::unique_ptr<SerialBlocks> blocks_;  // with db:NAME
    std::uint32_t offset_ = 0;
    std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> rows_;  // line and bytes
};

}  // namespace kestrel
