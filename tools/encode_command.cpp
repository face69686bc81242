#include <algorithm>
#include <cstdio>
#include <thread>

#include "cli_errors.h"
#include "commands.h"
#include "encoder.h"
#include "options.h"

namespace rq43::cli {
namespace {

constexpr OptionSpec kOptions[] = {
    {"quality", "Q", "quality 0..100 (default: the codec's, 70); the ceiling of its per-frame search"},
    {"bitrate", "KBPS", "target bit rate in kbit/s, handed over as the stream's data rate"},
    {"frame-size", "BYTES", "target size of every frame"},
    {"keyint", "N", "request a key frame every N frames (default: the codec's, 25; 0: first frame only)"},
    {"input-format", "FMT",
     "what the codec is handed: rgb24, rgb32, yuy2 or uyvy (default: closest to the source)"},
    {"fast-search", nullptr, "high speed motion search, for this run"},
    {"sub-block", nullptr, "allow sub-block motion, for this run"},
    {"no-auto-key", nullptr, "no automatic key frames, for this run"},
    {"weak", nullptr, "no strong compression, for this run"},
    {"prefilter", "S[:I]", "source filtering strength 0..20 and iterations 1..4, for this run"},
    {"crop", nullptr, "cut sizes down to multiples of 16 instead of padding them"},
    {"psnr", nullptr, "decode every frame again and report its PSNR against the source"},
    {"threads", "N", "codec instances coding at once (default: the processor count)"},
    {"no-audio", nullptr, "leave the input's sound out"},
};

constexpr const char* kHelp =
    "usage: rq43 encode [OPTIONS] INPUT OUTPUT.avi\n"
    "\n"
    "Compresses INPUT (any video or image sequence FFmpeg reads; '-' reads standard input, in any\n"
    "format FFmpeg recognises there) into an AVI file with an RQ43 stream; files past 1 GiB are\n"
    "written as OpenDML (AVI 2.0) and may grow without limit. The input's sound is kept: copied where\n"
    "AVI takes its codec, else as 16-bit PCM. Sizes that are not multiples of 16 are padded by\n"
    "repeating the edge pixels, or cropped with --crop. The frame rate comes from the input.\n"
    "The option settings apply to this run only; 'rq43 config' changes the stored ones.\n"
    "\n"
    "OUTPUT is written beside itself and renamed into place when complete: a failed or interrupted\n"
    "(Ctrl-C, exit status 130) run discards its unfinished file and leaves an existing OUTPUT as it was.\n"
    "\n"
    "With --threads N the input is cut at its requested key frames (--keyint) into runs that N codec\n"
    "instances code at once, each on one thread (a single instance uses two). At a fixed quality the\n"
    "file is byte for byte that of --threads 1. With a byte target (--bitrate, --frame-size) each\n"
    "instance controls the rate of the runs it codes on its own, so frame sizes differ from --threads 1\n"
    "(the average stays on target); --threads 1 keeps one rate control over the whole stream.\n"
    "--keyint 0 leaves a single run: one instance works.\n";

CodecSettings RunSettings(const ParsedArgs& parsed, bool& changed) {
    CodecSettings settings = LoadCodecSettings();
    changed = false;
    auto flag = [&](const char* name, uint8_t& field, uint8_t value) {
        if (!parsed.Has(name)) return;
        field = value;
        changed = true;
    };
    flag("fast-search", settings.fastSearch, 1);
    flag("sub-block", settings.subBlockMotion, 1);
    flag("no-auto-key", settings.autoKeyInsert, 0);
    flag("weak", settings.strongCompression, 0);
    if (const std::string* prefilter = parsed.Last("prefilter")) {
        std::string strength = *prefilter, iterations;
        if (auto colon = prefilter->find(':'); colon != std::string::npos) {
            strength = prefilter->substr(0, colon);
            iterations = prefilter->substr(colon + 1);
        }
        settings.prefilterStrength =
            static_cast<int8_t>(ParseInteger(strength, "--prefilter strength", 0, 20));
        if (!iterations.empty())
            settings.prefilterIterations =
                static_cast<int8_t>(ParseInteger(iterations, "--prefilter iterations", 1, 4));
        changed = true;
    }
    return settings;
}

}  // namespace

int EncodeCommand(std::span<const std::string> args) {
    std::optional<ParsedArgs> command = ParseCommandLine(args, kOptions, kHelp);
    if (!command) return 0;
    const ParsedArgs& parsed = *command;
    if (parsed.positional.size() != 2) throw UsageError("expects INPUT and OUTPUT.avi");
    const std::string& input = parsed.positional[0];
    const std::string& output = parsed.positional[1];
    if (output == "-")
        throw UsageError("OUTPUT must be a file: an AVI file is completed by rewriting its headers");
    if (input == output) throw UsageError("INPUT and OUTPUT are the same file");

    EncodeOptions options;
    if (const std::string* q = parsed.Last("quality"))
        options.quality = static_cast<int>(ParseInteger(*q, "--quality", 0, 100));
    if (const std::string* b = parsed.Last("bitrate"))
        options.bitrateKbps = ParseInteger(*b, "--bitrate", 1, 2000000);
    if (const std::string* f = parsed.Last("frame-size"))
        options.frameSize = static_cast<uint32_t>(ParseInteger(*f, "--frame-size", 1, 0x7FFFFFFF));
    if (options.bitrateKbps && options.frameSize)
        throw UsageError("--bitrate and --frame-size exclude each other");
    if (const std::string* k = parsed.Last("keyint"))
        options.keyInterval = static_cast<int>(ParseInteger(*k, "--keyint", 0, 1000000));
    if (const std::string* f = parsed.Last("input-format")) {
        options.inputFormat = ParseHostFormat(*f);
        if (!options.inputFormat)
            throw UsageError("--input-format: '" + *f + "' is not rgb24, rgb32, yuy2 or uyvy");
    }
    bool changed = false;
    CodecSettings settings = RunSettings(parsed, changed);
    if (changed) options.runSettings = settings;
    options.fit = parsed.Has("crop") ? FitMode::Crop : FitMode::Pad;
    options.reconstruct = parsed.Has("psnr");
    options.audio = !parsed.Has("no-audio");
    options.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (const std::string* t = parsed.Last("threads"))
        options.threads = static_cast<int>(ParseInteger(*t, "--threads", 1, 256));

    EncodeReport report;
    try {
        auto source = OpenVideoSource(input);
        report = EncodeVideo(*source, output, options);
    } catch (const Interruption&) {
        throw Interruption("interrupted; " + output + " was not written (the unfinished file is discarded)");
    }

    double fps = static_cast<double>(report.rate) / static_cast<double>(report.scale);
    std::fprintf(stderr, "%s: %lld frames (%lld key), %dx%d %s at %.3f fps\n", output.c_str(),
                 static_cast<long long>(report.frames), static_cast<long long>(report.keyFrames),
                 report.width, report.height, HostFormatName(report.format), fps);
    std::fprintf(stderr, "%s: %llu bytes, %.1f kbit/s, encoded at %.1f fps (%d codec instance%s)\n",
                 output.c_str(), static_cast<unsigned long long>(report.bytes), report.Kbps(),
                 report.seconds > 0 ? static_cast<double>(report.frames) / report.seconds : 0.0,
                 report.instances, report.instances == 1 ? "" : "s");
    if (!report.audio.empty()) std::fprintf(stderr, "%s: %s\n", output.c_str(), report.audio.c_str());
    if (options.reconstruct)
        std::fprintf(stderr, "%s: PSNR Y %.2f U %.2f V %.2f all %.2f dB\n", output.c_str(), report.psnr.Y(),
                     report.psnr.U(), report.psnr.V(), report.psnr.Overall());
    return 0;
}

}  // namespace rq43::cli
