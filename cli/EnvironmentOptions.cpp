#include "cli/EnvironmentOptions.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace kestrel::cli {

namespace {

// A command of its own: it cannot go with --port, as it flashes no box it names.
bool IsCommand(const CLI::App& app, const CLI::Option& option) {
    const CLI::Option* port = app.get_option_no_throw("--port");
    return port != nullptr && option.get_excludes().count(const_cast<CLI::Option*>(port)) != 0;
}

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

std::string EnvironmentName(const CLI::App& app, const CLI::Option& option) {
    const auto& names = option.get_lnames();
    if (names.empty() || names.front() == "help" || names.front() == "version" || option.get_group().empty() ||
        IsCommand(app, option)) {
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
        if (const std::string name = EnvironmentName(app, *option); !name.empty()) {
            names += (names.empty() ? "" : ", ") + name;
        }
    }
    return "Environment: an option may also come from its variable, a value on the command line winning: " + names +
           ". A flag takes 1 or 0 (true or false, yes or no); a variable set empty is refused, as an empty value "
           "is (an unset shell variable gives one); KESTREL_PORT names one box (a gang's go on the command line); a "
           "variable for an "
           "option the command line rules out is ignored.\n";
}

void ParseWithEnvironment(CLI::App& app, int argc, char** argv) {
    app.parse(argc, argv);  // the command line alone: what it gives, and what that rules out
    std::set<const CLI::Option*> present;
    for (const CLI::Option* option : app.get_options()) {
        if (option->count() > 0) {
            present.insert(option);
        }
    }
    std::string taken;
    for (CLI::Option* option : app.get_options()) {
        const std::string name = EnvironmentName(app, *option);
        const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
        if (value == nullptr || option->count() > 0) {
            continue;
        }
        bool fits = true;
        for (const CLI::Option* other : option->get_excludes()) {
            fits = fits && present.count(other) == 0;
        }
        for (const CLI::Option* needed : option->get_needs()) {
            fits = fits && present.count(needed) != 0;
        }
        if (fits && *value == '\0') {
            // Not as if unset: KESTREL_APPROVED=$MANIFEST with MANIFEST unset must not flash any file.
            throw CLI::ValidationError(name, "an empty value: unset the variable, or give it a value");
        }
        if (fits && option->get_items_expected_max() == 0 && !IsFlagWord(value)) {
            throw CLI::ValidationError(name,
                                       std::string("a flag takes 1 or 0 (true or false, yes or no), not ") + value);
        }
        if (fits) {
            option->envname(name);
            present.insert(option);
            taken += " " + name + "=" + value;
        }
    }
    if (taken.empty()) {
        return;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError&) {
        // The message names the option; the user set no option but a variable.
        std::fprintf(stderr, "kestrel-flash: from the environment:%s\n", taken.c_str());
        throw;
    }
}

}  // namespace kestrel::cli
