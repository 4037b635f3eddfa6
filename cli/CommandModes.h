#pragma once

#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

namespace kestrel::cli {

// One thing kestrel-flash does in a run, and every option that goes with it.
// A run does one: options of two, or one of another mode's, are a usage error
// that names the two options that clash.
struct CommandMode {
    std::vector<std::string> selectors;  // the options that choose it; none for the download, the default
    bool needsFile = false;              // FILE must be given; without it FILE is refused
    std::vector<std::string> takes;      // every other option it takes
    // Options it takes, but not together.
    std::vector<std::pair<std::string, std::string>> clashes{};
    // An option that does nothing without one of these.
    std::vector<std::pair<std::string, std::vector<std::string>>> needsOneOf{};
};

const std::vector<CommandMode>& CommandModes();

// The mode the options `given` choose; the download when none does.
const CommandMode& ModeOf(const std::vector<std::string>& given);

// Whether `name` may come from a variable: not an option that chooses a mode,
// nor one that names the boxes in place of --port, as a variable left set
// would turn every later run into another command.
bool HasVariable(const std::string& name);

// Whether `name` may be added to the options `given`: `mode` takes it and it
// clashes with none of them.
bool Fits(const CommandMode& mode, const std::string& name, const std::vector<std::string>& given);

// The options that `app` holds a value of, by name, in the order they were declared.
std::vector<std::string> GivenOptions(const CLI::App& app);

// Throws the parse error of the first misuse among the options given: an
// ExcludesError that names both options, a RequiresError, or the RequiredError of FILE.
void CheckModeUse(const CLI::App& app);

// Throws the ValidationError of an option given without one of those it needs.
// Apart from the rest, as a variable may still bring the one needed.
void CheckNeeds(const CLI::App& app);

// Puts each option into its group of --help: the download, traceability, without a box, logs and reports.
void GroupOptions(CLI::App& app);

}  // namespace kestrel::cli
