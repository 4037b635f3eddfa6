#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kestrel::cli {

// --dump-image and --check: the preparation stages only, no link.
struct DryRun {
    std::string file;
    std::string dumpImage;  // where the image goes; empty: nowhere
    bool check = false;     // the S-record check on stderr
    // With check: a box's own field, which must not lie over bytes the file sets.
    std::optional<std::uint32_t> fieldAt{};
    std::size_t fieldLength = 0;
};

// Status lines on stdout, findings and failures on stderr; the exit status. A
// check that finds problems writes no image; a file the reader refuses is still
// checked, so that --check names every fault and not only the first. A file
// refused for its size was not read whole: there is nothing to check.
int DryRunCommand(const DryRun& run);

}  // namespace kestrel::cli
