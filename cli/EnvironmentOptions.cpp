#include "cli/EnvironmentOptions.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <optional>

#include "base/Environment.h"
#include "cli/CommandModes.h"

namespace kestrel::cli {

namespace {

// A flag's variable takes the words the help names, and no other: CLI11 alone would read "1x" as 1 and "2" as
// true, so a mistyped variable would turn a flag on unseen.
bool IsFlagWord(const std::string& value) {
    for (const char* word : {"1", "0", "true", "false", "yes", "no"}) {
        if (value == word) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string EnvironmentName(const CLI::Option& option) {
    const auto& names = option.get_lnames();
    if (names.empty() || names.front() == "help" || names.front() == "version" || option.get_group().empty() ||
        !HasVariable(option.get_name())) {
        return {};
    }
    std::string name = "KESTREL_";
    for (const char c : names.front()) {
        name += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return name;
}

std::string EnvironmentHelp(const CLI::App& app) {
    std::string names;
    for (const CLI::Option* option : app.get_options()) {
        if (const std::string name = EnvironmentName(*option); !name.empty()) {
            names += (names.empty() ? "" : ", ") + name;
        }
    }
    return "Environment: an option may also come from its variable, a value on the command line winning: " + names +
           ". A flag takes 1 or 0 (true or false, yes or no); a variable set empty is refused, as an empty value "
           "is (an unset shell variable gives one); KESTREL_PORT names one box (a gang's go on the command line); a "
           "variable for an "
           "option the command line rules out is ignored.\n";
}

namespace {

// A value refused is named as the user gave it: by its variable, not by the option it stands for.
[[noreturn]] void ThrowNamed(const CLI::ParseError& error, const std::map<CLI::Option*, std::string>& values) {
    const std::string message = error.what();
    for (const auto& [option, value] : values) {
        const std::string prefix = option->get_name() + ": ";
        if (message.starts_with(prefix)) {
            throw CLI::ValidationError(EnvironmentName(*option), message.substr(prefix.size()));
        }
    }
    throw;
}

}  // namespace

void ParseWithEnvironment(CLI::App& app, int argc, char** argv) {
    app.parse(argc, argv);  // the command line alone: what it gives, and the mode it chooses
    CheckModeUse(app);
    std::vector<std::string> given = GivenOptions(app);
    const CommandMode& mode = ModeOf(given);
    std::string taken;
    std::map<CLI::Option*, std::string> values;  // read here, in UTF-8 on every system, rather than by CLI11
    for (CLI::Option* option : app.get_options()) {
        const std::string name = EnvironmentName(*option);
        const std::optional<std::string> found = name.empty() ? std::nullopt : EnvironmentValue(name);
        if (!found || option->count() > 0 || !Fits(mode, option->get_name(), given)) {
            continue;
        }
        bool fits = true;
        for (const CLI::Option* needed : option->get_needs()) {
            fits = fits && std::find(given.begin(), given.end(), needed->get_name()) != given.end();
        }
        if (!fits) {
            continue;
        }
        const std::string& value = *found;
        if (value.empty()) {
            // Not as if unset: KESTREL_APPROVED=$MANIFEST with MANIFEST unset must not flash any file.
            throw CLI::ValidationError(name, "an empty value: unset the variable, or give it a value");
        }
        if (option->get_items_expected_max() == 0 && !IsFlagWord(value)) {
            throw CLI::ValidationError(name,
                                       std::string("a flag takes 1 or 0 (true or false, yes or no), not ") + value);
        }
        values[option] = value;
        given.push_back(option->get_name());
        taken += " " + name + "=" + value;
    }
    if (taken.empty()) {
        CheckNeeds(app);
        return;
    }
    // As CLI11 takes a variable: a result of its own before the command line's, which gives the option none.
    app.preparse_callback([values](std::size_t) {
        for (const auto& [option, value] : values) {
            option->add_result(value);
        }
    });
    try {
        app.parse(argc, argv);
        app.preparse_callback({});
        CheckNeeds(app);
    } catch (const CLI::ParseError& error) {
        app.preparse_callback({});
        std::fprintf(stderr, "kestrel-flash: from the environment:%s\n", taken.c_str());
        ThrowNamed(error, values);
    }
}

}  // namespace kestrel::cli
