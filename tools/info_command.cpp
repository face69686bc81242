#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "avi.h"
#include "cli_errors.h"
#include "commands.h"
#include "dsp/cpu_level.h"
#include "options.h"
#include "pipeline/frame_header.h"

namespace rq43::cli {
namespace {

constexpr OptionSpec kOptions[] = {
    {"frames", nullptr, "one line per frame: key or delta, bytes, quality, motion method, token modes"},
};

// Offsets inside the token section that follows the frame header and motion section.
constexpr size_t kTokenModesOffset = 16;
constexpr size_t kTokenQualityOffset = 22;

constexpr const char* kHelp =
    "usage: rq43 info [OPTIONS] INPUT.avi\n"
    "\n"
    "Describes the RQ43 stream of INPUT.avi (AVI 2.0 files of any size included): picture size, frame\n"
    "rate, frames, key frames (as each frame's own header says), bytes and bit rate. Exit status 1 when\n"
    "the file holds fewer frames than its headers announce.\n";

const char* MotionMethodName(uint8_t method) {
    static const char* const names[] = {"Plain", "Temporal", "SubBlockPlain", "SubBlockTemporal", "Spatial"};
    return method < 5 ? names[method] : "unknown";
}

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// printf into a string; the compiler checks the arguments against the format.
__attribute__((format(printf, 2, 3))) void Append(std::string& text, const char* format, ...) {
    char buffer[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    text += buffer;
}

std::string FrameLine(const AviFrame& frame) {
    std::string text;
    const std::vector<uint8_t>& data = frame.data;
    Append(text, "%6lld %-5s %8zu bytes", static_cast<long long>(frame.index), frame.key ? "key" : "delta",
           data.size());
    FrameHeader header;
    if (data.empty()) {
        Append(text, "  dropped\n");
        return text;
    }
    if (!frame.complete || !ReadCheckedFrameHeader(data.data(), data.size(), &header)) {
        Append(text, "  damaged\n");
        return text;
    }
    Append(text, "  quality %3u", header.quality);
    if (header.keyFrame == 0 && header.motionSize > 0)
        Append(text, "  motion %u %-16s", data[kFrameHeaderSize], MotionMethodName(data[kFrameHeaderSize]));
    else
        Append(text, "  motion - %-16s", "");
    size_t token = kFrameHeaderSize + header.motionSize;
    if (header.tokenSize > kTokenQualityOffset) {
        const uint8_t* t = &data[token];
        Append(text, "  modes Y %04x U %04x V %04x", U16(t + kTokenModesOffset),
               U16(t + kTokenModesOffset + 2), U16(t + kTokenModesOffset + 4));
        if (t[kTokenQualityOffset] != header.quality)
            Append(text, "  (token quality %u)", t[kTokenQualityOffset]);
    }
    Append(text, "\n");
    return text;
}

}  // namespace

int InfoCommand(std::span<const std::string> args) {
    std::optional<ParsedArgs> command = ParseCommandLine(args, kOptions, kHelp);
    if (!command) return 0;
    const ParsedArgs& parsed = *command;
    if (parsed.positional.size() != 1) throw UsageError("expects INPUT.avi");
    const std::string& input = parsed.positional[0];
    AviReader reader(input);

    // The frame lines follow the summary, which needs every frame: keep them until then.
    const bool lines = parsed.Has("frames");
    std::vector<std::string> frameLines;
    int64_t frames = 0, keys = 0;
    uint64_t bytes = 0;
    AviFrame frame;
    while (reader.Next(frame)) {
        ++frames;
        keys += frame.key ? 1 : 0;
        bytes += frame.data.size();
        if (lines) frameLines.push_back(FrameLine(frame));
    }
    const BITMAPINFOHEADER& format = reader.Format();
    double fps = static_cast<double>(reader.Rate()) / static_cast<double>(reader.Scale());
    double seconds = static_cast<double>(frames) / fps;
    std::printf("file        %s\n", input.c_str());
    std::printf("video       RQ43 %dx%d\n", format.biWidth, reader.Height());
    std::printf("frame rate  %u/%u (%.3f fps)\n", reader.Rate(), reader.Scale(), fps);
    std::printf("frames      %lld (%.2f s)\n", static_cast<long long>(frames), seconds);
    std::printf("key frames  %lld\n", static_cast<long long>(keys));
    std::printf("bytes       %llu\n", static_cast<unsigned long long>(bytes));
    std::printf("bit rate    %.1f kbit/s\n",
                seconds > 0 ? static_cast<double>(bytes) * 8 / seconds / 1000 : 0.0);
    if (reader.Truncated())
        std::printf("warning     the file is truncated (%lld of %lld frames)\n",
                    static_cast<long long>(frames), static_cast<long long>(reader.AnnouncedFrames()));
    std::printf("kernels     %s (this machine's, for decoding)\n", CpuLevelName(dsp::ActiveCpuLevel()));
    for (const std::string& line : frameLines) std::fputs(line.c_str(), stdout);
    return reader.Truncated() ? kExitFailure : 0;
}

}  // namespace rq43::cli
