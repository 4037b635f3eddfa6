#include "station/LotUnits.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include "base/FileOpen.h"
#include "session/ExitStatus.h"
#include "station/LotRecords.h"
#include "station/StateFile.h"

namespace kestrel {

namespace {

// The decimal number a state file holds; false when it holds anything else.
bool NumberIn(const std::string& text, std::uint64_t& number) {
    std::string digits = text;
    while (!digits.empty() && (digits.back() == '\n' || digits.back() == '\r')) {
        digits.pop_back();
    }
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return !digits.empty() && error == std::errc() && end == digits.data() + digits.size();
}

std::string UsedRowsFile(const std::string& unitData) { return unitData + ".used"; }

// A counter of this form names a sequence of the records database instead of a file.
constexpr const char* kSequencePrefix = "db:";

}  // namespace

LotRefusal LotUnits::Prepare(const UnitOptions& options, const PreparedLot& lot, std::unique_ptr<LotUnits>& units) {
    auto made = std::make_unique<LotUnits>();
    made->options_ = options;
    std::size_t length = options.format.width;
    if (!options.unitData.empty()) {
        const UniqueFile file(OpenFile(options.unitData, "rb"));
        if (!file) {
            return {kExitUsage, "cannot read the unit data " + options.unitData + ": " + std::strerror(errno)};
        }
        std::string line;
        std::size_t number = 0;
        for (int c = 0; c != EOF;) {
            line.clear();
            while ((c = std::fgetc(file.get())) != EOF && c != '\n') {
                line += static_cast<char>(c);
            }
            ++number;
            if (line.find_first_not_of(" \t\r") == std::string::npos || line.starts_with('#')) {
                continue;  // blank lines and comments are no units
            }
            std::vector<std::uint8_t> bytes;
            if (const std::string why = ParseUnitRow(line, bytes); !why.empty()) {
                return {kExitUsage, options.unitData + ":" + std::to_string(number) + ": " + why};
            }
            length = std::max(length, bytes.size());
            made->rows_.emplace_back(number, std::move(bytes));
        }
        if (made->rows_.empty()) {
            return {kExitUsage, "the unit data " + options.unitData + " holds no row"};
        }
    }
    std::string why;
    const auto offset = FieldOffset(*options.fieldAt, length, lot.image.sourceKind,
                                    static_cast<std::uint32_t>(lot.image.bytes.size()), why);
    if (!offset) {
        return {kExitData, why + ": no box is touched"};
    }
    made->offset_ = *offset;
    if (options.counter.starts_with(kSequencePrefix)) {
        const std::string name = options.counter.substr(std::string_view(kSequencePrefix).size());
        bool usage = false;
        const std::string refused = SerialBlocks::Prepare({.name = name,
                                                           .database = options.database,
                                                           .blockFile = BlockFileOf(options.log, name),
                                                           .first = options.first,
                                                           .block = options.block,
                                                           .wait = options.wait},
                                                          made->blocks_, usage);
        if (!refused.empty()) {
            return {usage ? kExitUsage : kExitOutput, refused};
        }
    } else if (!options.counter.empty()) {
        // Made with the first number when missing; a file that holds anything else is not a counter.
        const int error = UpdateStateFile(
            options.counter,
            [&options](const std::optional<std::string>& text, std::string& next) {
                std::uint64_t number = 0;
                if (text && !NumberIn(*text, number)) {
                    return EINVAL;
                }
                next = text ? *text : std::to_string(options.first) + "\n";
                return 0;
            },
            options.wait);
        if (error != 0) {
            return {error == EINVAL ? kExitUsage : kExitOutput,
                    "cannot use the serial counter " + options.counter + ": " +
                        (error == EINVAL ? std::string("it holds no number") : DescribeRecordError(error))};
        }
    }
    units = std::move(made);
    return {};
}

int LotUnits::Take(BoxUnit& unit, std::string& why) {
    std::vector<BoxUnit> one(1);
    const int status = Take(one, why);
    unit = std::move(one.front());
    return status;
}

int LotUnits::Take(std::vector<BoxUnit>& units, std::string& why) {
    why.clear();
    for (auto& unit : units) {
        unit = {};
    }
    const std::size_t count = units.size();
    if (!options_.unitData.empty()) {
        std::size_t used = 0;
        const int error = UpdateStateFile(
            UsedRowsFile(options_.unitData),
            [this, &used, count](const std::optional<std::string>& text, std::string& next) {
                std::uint64_t taken = 0;
                if (text && !NumberIn(*text, taken)) {
                    return EINVAL;
                }
                if (taken + count > rows_.size()) {
                    return ERANGE;
                }
                used = static_cast<std::size_t>(taken);
                next = std::to_string(taken + count) + "\n";
                return 0;
            },
            options_.wait);
        if (error == ERANGE) {
            why = "every row of the unit data " + options_.unitData + " is used (" + std::to_string(rows_.size()) +
                  " rows): not flashed";
            return kExitData;
        }
        if (error != 0) {
            why = "cannot take a row of the unit data " + options_.unitData + ": " +
                  (error == EINVAL ? UsedRowsFile(options_.unitData) + " holds no number" : DescribeRecordError(error));
            return error == ECANCELED ? kExitCancelled : kExitOutput;
        }
        for (std::size_t i = 0; i < count; ++i) {
            units[i].line = rows_[used + i].first;
            units[i].bytes = rows_[used + i].second;
        }
        return kExitSuccess;
    }
    std::vector<std::uint64_t> numbers;
    std::uint64_t unfit = 0;
    const auto fits = [this, &units](std::size_t i, std::uint64_t number) {
        return SerialBytes(number, options_.format, units[i].bytes);
    };
    const int error =
        blocks_ ? blocks_->Take(count, fits, numbers, unfit, why) : TakeCounted(count, fits, numbers, unfit);
    if (error == EOVERFLOW) {
        why = "the serial number " + std::to_string(unfit) + " does not fit the field: not flashed";
        return kExitData;
    }
    if (error != 0) {
        why = "cannot take a number from the serial counter " + options_.counter + ": " +
              (!why.empty()      ? why + ": not flashed"
               : error == EINVAL ? std::string("it holds no number")
                                 : DescribeRecordError(error));
        return error == ECANCELED ? kExitCancelled : kExitOutput;
    }
    for (std::size_t i = 0; i < count; ++i) {
        units[i].serial = numbers[i];
    }
    return kExitSuccess;
}

int LotUnits::TakeCounted(std::size_t count, const std::function<bool(std::size_t, std::uint64_t)>& fits,
                          std::vector<std::uint64_t>& numbers, std::uint64_t& unfit) {
    return UpdateStateFile(
        options_.counter,
        [&](const std::optional<std::string>& text, std::string& next) {
            std::uint64_t first = 0;
            if (!text) {
                return ENOENT;  // made when the lot began: gone since, it would start again and give numbers twice
            }
            if (!NumberIn(*text, first)) {
                return EINVAL;
            }
            for (std::size_t i = 0; i < count; ++i) {
                if (!fits(i, first + i)) {
                    unfit = first + i;
                    return EOVERFLOW;
                }
                numbers.push_back(first + i);
            }
            next = std::to_string(first + count) + "\n";
            return 0;
        },
        options_.wait);
}

void LotUnits::Personalise(const BoxUnit& unit, std::uint8_t* image, std::uint32_t length) const {
    if (offset_ + unit.bytes.size() <= length) {
        std::copy(unit.bytes.begin(), unit.bytes.end(), image + offset_);
    }
}

}  // namespace kestrel
