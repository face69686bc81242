#include <chrono>
#include <cstdio>
#include <vector>

#include "avi.h"
#include "cli_errors.h"
#include "codec_host.h"
#include "commands.h"
#include "options.h"
#include "pipeline/frame_header.h"
#include "stream_check.h"
#include "video_output.h"

namespace rq43::cli {
namespace {

constexpr OptionSpec kOptions[] = {
    {"format", "FMT", "y4m, yuv (raw 4:2:0), uyvy, yuy2, rgb24, rgb32 (raw) or png (default: by OUTPUT's name)"},
    {"md5", nullptr, "print one MD5 per decoded picture (its 4:2:0 planes) instead of writing pictures"},
};

constexpr const char* kHelp =
    "usage: rq43 decode [OPTIONS] INPUT.avi OUTPUT\n"
    "       rq43 decode --md5 INPUT.avi\n"
    "\n"
    "Decompresses the RQ43 stream of INPUT.avi. OUTPUT is chosen by its name: NAME.y4m (4:2:0, the\n"
    "codec's planes exactly), NAME.yuv (raw 4:2:0), NAME.png or a pattern such as frame%04d.png (a PNG\n"
    "sequence), or '-' for y4m on standard output; --format names it otherwise. A damaged frame is\n"
    "reported and the last good picture is repeated until the next key frame; the exit status is\n"
    "then 1.\n";

}  // namespace

int DecodeCommand(std::span<const std::string> args) {
    std::optional<ParsedArgs> command = ParseCommandLine(args, kOptions, kHelp);
    if (!command) return 0;
    const ParsedArgs& parsed = *command;
    const bool md5 = parsed.Has("md5");
    if (md5 && parsed.Has("format")) throw UsageError("--md5 writes no pictures, so it takes no --format");
    if (parsed.positional.size() != (md5 ? 1u : 2u))
        throw UsageError(md5 ? "expects INPUT.avi" : "expects INPUT.avi and OUTPUT");
    const std::string& input = parsed.positional[0];
    OutputTarget target = ChooseOutput(md5 ? "-" : parsed.positional[1], parsed.Last("format"), md5);

    AviReader reader(input);
    RequireRq43Stream(reader, input);
    const BITMAPINFOHEADER& format = reader.Format();
    const int width = format.biWidth;
    const int height = format.biHeight < 0 ? -format.biHeight : format.biHeight;
    auto sink = OpenSink(target, width, height, reader.Rate(), reader.Scale());
    Decompressor decompressor(format, sink->DecodeFormat());

    const HostFormat decodeFormat = sink->DecodeFormat();
    std::vector<uint8_t> held = BlackHostPicture(decodeFormat, width, height);
    std::vector<uint8_t> picture(held.size());
    std::vector<uint8_t> data;
    int64_t damaged = 0;
    bool awaitingKey = true;    // nothing decodes until a key frame
    bool gapReported = false;   // one message per run of held pictures
    auto start = std::chrono::steady_clock::now();
    const auto& frames = reader.Frames();
    for (size_t i = 0; i < frames.size(); ++i) {
        // An empty chunk is a dropped frame: the picture stays.
        if (frames[i].size != 0) {
            bool complete = reader.ReadFrame(i, data) && frames[i].available == frames[i].size;
            FrameHeader header;
            bool wellFormed = complete && ReadCheckedFrameHeader(data.data(), data.size(), &header);
            if (wellFormed && awaitingKey && header.keyFrame != 1) {
                if (!gapReported) {
                    std::fprintf(stderr, "rq43 decode: %s: frame %zu is a delta frame with no key frame before it\n",
                                 input.c_str(), i);
                    ++damaged;
                    gapReported = true;
                }
            } else if (wellFormed && decompressor.Decode(data.data(), data.size(), picture.data())) {
                held.swap(picture);
                awaitingKey = false;
                gapReported = false;
            } else {
                std::fprintf(stderr, "rq43 decode: %s: frame %zu is %s; holding the last picture until the next key frame\n",
                             input.c_str(), i, complete ? "damaged" : "cut short");
                ++damaged;
                awaitingKey = true;
                gapReported = true;
            }
        }
        sink->Write(static_cast<int64_t>(i), held.data());
    }
    sink->Finish();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!md5)
        std::fprintf(stderr, "%s: %zu frames, %dx%d, decoded at %.1f fps\n", input.c_str(), frames.size(), width,
                     height, seconds > 0 ? static_cast<double>(frames.size()) / seconds : 0.0);
    if (reader.Truncated()) {
        std::fprintf(stderr, "rq43 decode: %s: the file is truncated\n", input.c_str());
        return kExitFailure;
    }
    if (damaged) {
        std::fprintf(stderr, "rq43 decode: %s: %lld damaged frame%s\n", input.c_str(), static_cast<long long>(damaged),
                     damaged == 1 ? "" : "s");
        return kExitFailure;
    }
    if (frames.empty()) {
        std::fprintf(stderr, "rq43 decode: %s: the stream holds no frames\n", input.c_str());
        return kExitFailure;
    }
    return 0;
}

}  // namespace rq43::cli
