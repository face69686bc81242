#include "options.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "cli_errors.h"

namespace rq43::cli {

const std::string* ParsedArgs::Last(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() || it->second.empty() ? nullptr : &it->second.back();
}

ParsedArgs ParseArgs(std::span<const std::string> args, std::span<const OptionSpec> specs) {
    ParsedArgs parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg == "-" || arg.rfind("-", 0) != 0) {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            parsed.help = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) throw UsageError("unknown option " + arg);
        std::string name = arg.substr(2);
        std::string value;
        bool inlineValue = false;
        if (auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            inlineValue = true;
        }
        auto spec =
            std::find_if(specs.begin(), specs.end(), [&](const OptionSpec& s) { return name == s.name; });
        if (spec == specs.end()) throw UsageError("unknown option --" + name);
        if (spec->valueName == nullptr) {
            if (inlineValue) throw UsageError("option --" + name + " takes no value");
        } else if (!inlineValue) {
            if (i + 1 >= args.size())
                throw UsageError("option --" + name + " needs a value (" + spec->valueName + ")");
            value = args[++i];
        }
        parsed.values[name].push_back(value);
    }
    return parsed;
}

std::optional<ParsedArgs> ParseCommandLine(std::span<const std::string> args,
                                           std::span<const OptionSpec> specs, const char* help) {
    ParsedArgs parsed = ParseArgs(args, specs);
    if (!parsed.help) return parsed;
    std::printf("%s\noptions:\n%s", help, FormatOptions(specs).c_str());
    return std::nullopt;
}

std::string FormatOptions(std::span<const OptionSpec> specs) {
    std::vector<std::string> heads;
    size_t width = 0;
    for (const OptionSpec& spec : specs) {
        std::string head = std::string("  --") + spec.name;
        if (spec.valueName) head += std::string(" ") + spec.valueName;
        width = std::max(width, head.size());
        heads.push_back(head);
    }
    std::string text;
    for (size_t i = 0; i < specs.size(); ++i) {
        text += heads[i] + std::string(width + 2 - heads[i].size(), ' ') + specs[i].help + "\n";
    }
    text += std::string("  --help") + std::string(width > 8 ? width + 2 - 8 : 2, ' ') + "show this help\n";
    return text;
}

int64_t ParseInteger(const std::string& text, const std::string& what, int64_t min, int64_t max) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        throw UsageError(what + ": '" + text + "' is not a whole number");
    if (value < min || value > max)
        throw UsageError(what + ": " + text + " is out of range " + std::to_string(min) + ".." +
                         std::to_string(max));
    return value;
}

}  // namespace rq43::cli
