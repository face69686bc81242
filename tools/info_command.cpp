#include <cstdio>
#include <vector>

#include "avi.h"
#include "cli_errors.h"
#include "commands.h"
#include "dsp/cpu_level.h"
#include "options.h"
#include "pipeline/frame_header.h"
#include "stream_check.h"

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
    "Describes the RQ43 stream of INPUT.avi: picture size, frame rate, frames, key frames, bytes and\n"
    "bit rate.\n";

const char* MotionMethodName(uint8_t method) {
    static const char* const names[] = {"Plain", "Temporal", "SubBlockPlain", "SubBlockTemporal", "Spatial"};
    return method < 5 ? names[method] : "unknown";
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void PrintFrameLine(size_t index, const AviFrame& frame, const std::vector<uint8_t>& data) {
    std::printf("%6zu %-5s %8u bytes", index, frame.key ? "key" : "delta", frame.size);
    FrameHeader header;
    if (frame.available != frame.size || !ReadCheckedFrameHeader(data.data(), data.size(), &header)) {
        std::printf("  damaged\n");
        return;
    }
    std::printf("  quality %3u", header.quality);
    if (header.keyFrame == 0 && header.motionSize > 0)
        std::printf("  motion %u %-16s", data[kFrameHeaderSize], MotionMethodName(data[kFrameHeaderSize]));
    else
        std::printf("  motion - %-16s", "");
    size_t token = kFrameHeaderSize + header.motionSize;
    if (header.tokenSize > kTokenQualityOffset) {
        const uint8_t* t = &data[token];
        std::printf("  modes Y %04x U %04x V %04x", U16(t + kTokenModesOffset), U16(t + kTokenModesOffset + 2),
                    U16(t + kTokenModesOffset + 4));
        if (t[kTokenQualityOffset] != header.quality) std::printf("  (token quality %u)", t[kTokenQualityOffset]);
    }
    std::printf("\n");
}

}  // namespace

int InfoCommand(std::span<const std::string> args) {
    std::optional<ParsedArgs> command = ParseCommandLine(args, kOptions, kHelp);
    if (!command) return 0;
    const ParsedArgs& parsed = *command;
    if (parsed.positional.size() != 1) throw UsageError("expects INPUT.avi");
    const std::string& input = parsed.positional[0];
    AviReader reader(input);
    RequireRq43Stream(reader, input);

    const auto& frames = reader.Frames();
    uint64_t bytes = 0;
    size_t keys = 0;
    for (const AviFrame& f : frames) {
        bytes += f.size;
        keys += f.key ? 1 : 0;
    }
    const BITMAPINFOHEADER& format = reader.Format();
    double fps = static_cast<double>(reader.Rate()) / static_cast<double>(reader.Scale());
    double seconds = static_cast<double>(frames.size()) / fps;
    std::printf("file        %s\n", input.c_str());
    std::printf("video       RQ43 %dx%d\n", format.biWidth, format.biHeight < 0 ? -format.biHeight : format.biHeight);
    std::printf("frame rate  %u/%u (%.3f fps)\n", reader.Rate(), reader.Scale(), fps);
    std::printf("frames      %zu (%.2f s)\n", frames.size(), seconds);
    std::printf("key frames  %zu\n", keys);
    std::printf("bytes       %llu\n", static_cast<unsigned long long>(bytes));
    std::printf("bit rate    %.1f kbit/s\n", seconds > 0 ? static_cast<double>(bytes) * 8 / seconds / 1000 : 0.0);
    std::printf("kernels     %s (this machine's, for decoding)\n", CpuLevelName(dsp::ActiveCpuLevel()));
    if (reader.Truncated()) std::printf("warning     the file is truncated\n");

    if (parsed.Has("frames")) {
        std::vector<uint8_t> data;
        for (size_t i = 0; i < frames.size(); ++i) {
            if (!reader.ReadFrame(i, data)) data.clear();
            PrintFrameLine(i, frames[i], data);
        }
    }
    return reader.Truncated() ? kExitFailure : 0;
}

}  // namespace rq43::cli
