#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace kestrel::cli {

// Options from the environment, for a station that sets its port or log once:
// each option --NAME may come from KESTREL_NAME (upper case, '-' as '_'), a
// value on the command line winning. A flag takes 1 or 0 (also true/false,
// yes/no) and nothing else; a variable set empty is refused. A variable gives one value, so KESTREL_PORT names one box;
// a gang's boxes go on the command line. Left out, so that a variable left set
// cannot turn every later run into something else: the options that choose a
// mode of their own or name the boxes in place of --port, --help and
// --version, hidden options, and any variable whose option the mode the command
// line chooses does not take or that clashes with one given.

// The variable of an option; empty for those that have none.
std::string EnvironmentName(const CLI::Option& option);

// Every variable of `app`'s options, for the help text.
std::string EnvironmentHelp(const CLI::App& app);

// Parses the command line, then again with the variables set that fit it.
void ParseWithEnvironment(CLI::App& app, int argc, char** argv);

}  // namespace kestrel::cli
