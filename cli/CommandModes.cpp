#include "cli/CommandModes.h"

#include <algorithm>

namespace kestrel::cli {

namespace {

bool Holds(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Both were given: named in the order they were declared, as CLI11 names a clash.
[[noreturn]] void Clash(const std::vector<std::string>& given, const std::string& a, const std::string& b) {
    const auto first =
        std::find_if(given.begin(), given.end(), [&](const auto& name) { return name == a || name == b; });
    throw CLI::ExcludesError(*first, *first == a ? b : a);
}

bool Takes(const CommandMode& mode, const std::string& name) {
    return Holds(mode.selectors, name) || Holds(mode.takes, name) || (mode.needsFile && name == "FILE");
}

const std::vector<std::pair<std::string, std::vector<std::string>>> kGroups = {
    {"the download",
     {"--port", "--emulate", "--timeout", "--quiet", "--json", "--all-usb", "--wait", "--wait-timeout", "--repeat",
      "--serial-at", "--serial-format", "--serial-counter", "--serial-first", "--serial-block", "--unit-data"}},
    {"traceability", {"--log", "--label", "--rework", "--operator", "--station", "--lot", "--approved", "--db"}},
    {"without a box", {"--dump-image", "--check", "--list-ports"}},
    {"logs and reports", {"--verify-log", "--report", "--since", "--html", "--csv", "--send-log"}},
};

}  // namespace

const std::vector<CommandMode>& CommandModes() {
    static const std::vector<CommandMode> modes = {
        {.selectors = {},
         .needsFile = true,
         .takes =
             {"--port",           "--emulate",      "--timeout",      "--quiet",     "--json",      "--log",
              "--all-usb",        "--wait",         "--wait-timeout", "--repeat",    "--serial-at", "--serial-format",
              "--serial-counter", "--serial-first", "--serial-block", "--unit-data", "--label",     "--rework",
              "--operator",       "--station",      "--lot",          "--approved",  "--db"},
         // The emulated box brings its own link, and every USB box is no port named: one choice, never one
         // dropped. A label names one box: not a gang's, and not the next box of a repeat.
         .clashes = {{"--port", "--emulate"},
                     {"--port", "--all-usb"},
                     {"--emulate", "--all-usb"},
                     {"--label", "--all-usb"},
                     {"--label", "--repeat"},
                     {"--serial-counter", "--unit-data"}},
         .needsOneOf = {{"--serial-at", {"--serial-counter", "--unit-data"}}}},
        // A dry run opens no link: what only a download uses means nothing to it.
        {.selectors = {"--dump-image", "--check"},
         .needsFile = true,
         .takes = {"--quiet", "--serial-at", "--serial-format"}},
        {.selectors = {"--list-ports"}, .takes = {"--json"}},
        // The commands on a log open no box.
        {.selectors = {"--verify-log"}, .takes = {"--quiet"}},
        {.selectors = {"--report"}, .takes = {"--quiet", "--lot", "--since", "--html", "--csv"}},
        {.selectors = {"--send-log"}, .takes = {"--quiet", "--db"}},
    };
    return modes;
}

const CommandMode& ModeOf(const std::vector<std::string>& given) {
    for (const CommandMode& mode : CommandModes()) {
        for (const auto& selector : mode.selectors) {
            if (Holds(given, selector)) {
                return mode;
            }
        }
    }
    return CommandModes().front();
}

bool HasVariable(const std::string& name) {
    for (const CommandMode& mode : CommandModes()) {
        if (Holds(mode.selectors, name)) {
            return false;
        }
    }
    return name != "--emulate" && name != "--all-usb";
}

bool Fits(const CommandMode& mode, const std::string& name, const std::vector<std::string>& given) {
    if (!Takes(mode, name)) {
        return false;
    }
    return std::none_of(mode.clashes.begin(), mode.clashes.end(), [&](const auto& clash) {
        return (clash.first == name && Holds(given, clash.second)) ||
               (clash.second == name && Holds(given, clash.first));
    });
}

std::vector<std::string> GivenOptions(const CLI::App& app) {
    std::vector<std::string> given;
    for (const CLI::Option* option : app.get_options()) {
        if (option->count() > 0 && !option->get_name().empty()) {
            given.push_back(option->get_name());
        }
    }
    return given;
}

void CheckModeUse(const CLI::App& app) {
    const std::vector<std::string> given = GivenOptions(app);
    const CommandMode& mode = ModeOf(given);
    const auto chosen =
        std::find_if(given.begin(), given.end(), [&](const auto& name) { return Holds(mode.selectors, name); });
    for (const auto& name : given) {
        if (Takes(mode, name)) {
            continue;
        }
        if (chosen != given.end()) {
            Clash(given, name, *chosen);
        }
        // The download takes every option but those of another mode, which name their mode's option.
        const auto its = std::find_if(CommandModes().begin(), CommandModes().end(),
                                      [&](const CommandMode& other) { return Takes(other, name); });
        throw CLI::RequiresError(name, its != CommandModes().end() ? its->selectors.front() : "another option");
    }
    if (mode.needsFile && !Holds(given, "FILE")) {
        throw CLI::RequiredError("FILE");
    }
    for (const auto& [a, b] : mode.clashes) {
        if (Holds(given, a) && Holds(given, b)) {
            Clash(given, a, b);
        }
    }
}

void CheckNeeds(const CLI::App& app) {
    const std::vector<std::string> given = GivenOptions(app);
    for (const auto& [option, oneOf] : ModeOf(given).needsOneOf) {
        if (Holds(given, option) &&
            std::none_of(oneOf.begin(), oneOf.end(), [&](const auto& other) { return Holds(given, other); })) {
            std::string names;
            for (const auto& other : oneOf) {
                names += (names.empty() ? "" : " or ") + other;
            }
            throw CLI::ValidationError(option, "needs " + names);
        }
    }
}

void GroupOptions(CLI::App& app) {
    for (const auto& [group, names] : kGroups) {
        for (const auto& name : names) {
            app.get_option(name)->group(group);
        }
    }
}

}  // namespace kestrel::cli
