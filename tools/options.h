// Command-line parsing shared by every command: long options with values ("--name value" or
// "--name=value"), flags, "--" to end the options, and "-" as a positional meaning stdin/stdout.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace rq43::cli {

struct OptionSpec {
    const char* name;       // without the leading dashes
    const char* valueName;  // nullptr for a flag
    const char* help;
};

struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::vector<std::string>> values;  // every occurrence, in order; flags get ""
    bool help = false;

    bool Has(const std::string& name) const { return values.count(name) != 0; }
    // The last value given for an option, or nullptr.
    const std::string* Last(const std::string& name) const;
};

// Throws UsageError for unknown options and missing values.
ParsedArgs ParseArgs(std::span<const std::string> args, std::span<const OptionSpec> specs);

// ParseArgs for a command: when --help is asked for, prints `help`, then the options, and returns nothing.
std::optional<ParsedArgs> ParseCommandLine(std::span<const std::string> args,
                                           std::span<const OptionSpec> specs, const char* help);

// The options block of a --help text, one option per line with its help aligned.
std::string FormatOptions(std::span<const OptionSpec> specs);

// A whole decimal number in [min, max]; `what` names it in the error.
int64_t ParseInteger(const std::string& text, const std::string& what, int64_t min, int64_t max);

}  // namespace rq43::cli
