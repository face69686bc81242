#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_errors.h"
#include "commands.h"
#include "config/configure_dialog.h"
#include "config/settings_store.h"
#include "options.h"
#include "platform/registry.h"

namespace rq43::cli {
namespace {

constexpr OptionSpec kOptions[] = {
    {"set", "\"NAME=VALUE\"",
     "change one option (repeatable); all six are then saved, as the dialog's OK does"},
    {"reset", nullptr, "store the defaults of all six options"},
};

constexpr const char* kHelp =
    "usage: rq43 config [--reset] [--set \"NAME=VALUE\" ...]\n"
    "\n"
    "Shows the six stored codec options with the Configure dialog's wording, or changes them.\n"
    "NAME is the stored name (case does not matter); VALUE is within the dialog's range:\n"
    "  Fast Search, SubBlock Motion, Auto Key Insert, Strong Compression   0 or 1\n"
    "  Prefilter Strength                                                  0..20 (0 = off)\n"
    "  Prefilter Iterations                                                1..4\n"
    "\n"
    "The options are the user's own (in RQ43_REGISTRY_FILE, else ~/.config/rq43/registry.txt). A store\n"
    "that cannot be read or written is reported (exit 1) and left as it is.\n";

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t"), end = text.find_last_not_of(" \t");
    return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
}

void ApplySetting(CodecSettings& settings, const std::string& assignment) {
    auto eq = assignment.find('=');
    if (eq == std::string::npos) throw UsageError("--set expects \"NAME=VALUE\", not '" + assignment + "'");
    std::string name = Lower(Trim(assignment.substr(0, eq)));
    std::string value = Trim(assignment.substr(eq + 1));
    struct Field {
        const char* name;
        int min, max;
        bool isSigned;
        void* field;
    };
    const Field fields[] = {
        {kFastSearchName, 0, 1, false, &settings.fastSearch},
        {kSubBlockMotionName, 0, 1, false, &settings.subBlockMotion},
        {kAutoKeyInsertName, 0, 1, false, &settings.autoKeyInsert},
        {kStrongCompressionName, 0, 1, false, &settings.strongCompression},
        {kPrefilterStrengthName, 0, 20, true, &settings.prefilterStrength},
        {kPrefilterIterationsName, 1, 4, true, &settings.prefilterIterations},
    };
    for (const Field& f : fields) {
        if (name != Lower(f.name)) continue;
        if (f.max == 1 && (Lower(value) == "on" || Lower(value) == "off"))
            value = Lower(value) == "on" ? "1" : "0";
        auto number = ParseInteger(value, std::string("\"") + f.name + "\"", f.min, f.max);
        if (f.isSigned)
            *static_cast<int8_t*>(f.field) = static_cast<int8_t>(number);
        else
            *static_cast<uint8_t*>(f.field) = static_cast<uint8_t>(number);
        return;
    }
    throw UsageError(
        "unknown option name '" + Trim(assignment.substr(0, eq)) +
        "' (Fast Search, SubBlock Motion, Auto Key Insert, Strong Compression, Prefilter Strength, "
        "Prefilter Iterations)");
}

void Show(const CodecSettings& s) {
    std::printf("Configuration (%s in %s)\n\n", kSettingsKey, platform::RegistryFile().c_str());
    auto box = [](int value, const char* text, const char* note, const char* name) {
        std::printf("  [%c] %-40s %s = %d\n      %s\n", value ? 'x' : ' ', text, name, value, note);
    };
    box(s.fastSearch, "High Speed Motion Search   (Def: Off)", "Faster encoding at a slight cost in quality",
        kFastSearchName);
    box(s.subBlockMotion, "Allow sub-block motion   (Def: Off)", "Slight quality gain, Small speed cost",
        kSubBlockMotionName);
    box(s.autoKeyInsert, "Auto-Insert Key Frames   (Def: On)", "Small size reduction, Small speed cost",
        kAutoKeyInsertName);
    box(s.strongCompression, "Use strong compression   (Def: On)", "Medium size reduction, Small speed cost",
        kStrongCompressionName);
    std::printf("  Source Filtering\n");
    std::printf("      %-40s %s = %d\n", StrengthLabel(s.prefilterStrength).c_str(), kPrefilterStrengthName,
                s.prefilterStrength);
    std::printf("      %-40s %s = %d%s\n", RadiusLabel(s.prefilterIterations).c_str(),
                kPrefilterIterationsName, s.prefilterIterations,
                s.prefilterStrength == 0 ? " (unused while filtering is off)" : "");
}

}  // namespace

int ConfigCommand(std::span<const std::string> args) {
    std::optional<ParsedArgs> command = ParseCommandLine(args, kOptions, kHelp);
    if (!command) return 0;
    const ParsedArgs& parsed = *command;
    if (!parsed.positional.empty()) throw UsageError("unexpected argument '" + parsed.positional[0] + "'");
    if (parsed.Has("reset") || parsed.Has("set")) {
        std::vector<std::string> assignments;
        if (parsed.Has("set")) assignments = parsed.values.at("set");
        // Refused assignments are reported before the store is touched.
        CodecSettings scratch;
        for (const std::string& assignment : assignments) ApplySetting(scratch, assignment);
        bool saved = ChangeCodecSettings([&](CodecSettings& settings) {
            if (parsed.Has("reset")) settings = CodecSettings{};
            for (const std::string& assignment : assignments) ApplySetting(settings, assignment);
        });
        // There is no machine-wide store here to fall back from, as there is on Windows.
        if (!saved)
            throw Failure("cannot save the options: " + platform::RegistryLastError() +
                          ". The settings are per user on this system: there is nowhere else to keep them.");
    }
    // Defaults shown for a store that cannot be read would pass for its contents.
    uint32_t size = 0;
    if (platform::RegistryQueryValue(platform::RegistryHive::User, kSettingsKey, kFastSearchName, nullptr,
                                     nullptr, &size) == platform::RegistryResult::Failed)
        throw Failure(platform::RegistryLastError());
    Show(LoadCodecSettings());
    return 0;
}

}  // namespace rq43::cli
