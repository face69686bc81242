#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "avi.h"
#include "cli_errors.h"
#include "codec_host.h"
#include "commands.h"
#include "encoder.h"
#include "frame_md5.h"
#include "options.h"
#include "png_output.h"
#include "synthetic_clip.h"

namespace rq43::cli {
namespace {

constexpr int kWidth = 320, kHeight = 240, kFrames = 50;
constexpr uint32_t kRate = 25;
constexpr int64_t kPictureFrame = 30;  // mid-clip, between key frames

constexpr OptionSpec kOptions[] = {
    {"frames", "N", "length of the clip (default 50)"},
};

constexpr const char* kHelp =
    "usage: rq43 demo [OPTIONS] [DIR]\n"
    "\n"
    "The built-in example: synthesises a moving, textured 320x240 clip, encodes it with the codec's\n"
    "default options (the stored ones are not used), decodes it, checks that the decoded frames equal\n"
    "the encoder's reconstruction, and reports size, bit rate, PSNR and speed. Writes demo.avi and\n"
    "demo.png (one frame, source beside decoded) into DIR (default: the current directory).\n";

// Source on the left, decoded on the right.
std::vector<uint8_t> SideBySide(const Picture420& left, const Picture420& right) {
    std::vector<uint8_t> a = Picture420ToRgb(left), b = Picture420ToRgb(right);
    const size_t rowBytes = 3 * static_cast<size_t>(left.width);
    std::vector<uint8_t> out(2 * a.size());
    for (int y = 0; y < left.height; ++y) {
        size_t row = static_cast<size_t>(y) * rowBytes;
        std::memcpy(&out[2 * row], &a[row], rowBytes);
        std::memcpy(&out[2 * row + rowBytes], &b[row], rowBytes);
    }
    return out;
}

}  // namespace

int DemoCommand(std::span<const std::string> args) {
    std::optional<ParsedArgs> command = ParseCommandLine(args, kOptions, kHelp);
    if (!command) return 0;
    const ParsedArgs& parsed = *command;
    if (parsed.positional.size() > 1) throw UsageError("expects at most one DIR");
    int frames = kFrames;
    if (const std::string* n = parsed.Last("frames"))
        frames = static_cast<int>(ParseInteger(*n, "--frames", 1, 10000));
    std::string dir = parsed.positional.empty() ? "." : parsed.positional[0];
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) throw FileFailure(dir, error.message());
    if (!std::filesystem::is_directory(dir)) throw FileFailure(dir, "not a directory");
    const std::string aviPath = dir + "/demo.avi", pngPath = dir + "/demo.png";

    auto clip = MakeSyntheticClip(kWidth, kHeight, frames, kRate);
    EncodeOptions options;
    options.runSettings = CodecSettings{};
    options.reconstruct = true;
    std::vector<std::string> reconstructionMd5;
    Picture420 shownSource, shownDecoded;
    const int64_t shown = std::min<int64_t>(kPictureFrame, frames - 1);
    EncodeReport report = EncodeVideo(
        *clip, aviPath, options, [&](int64_t index, const Picture420& source, const Picture420& decoded) {
            reconstructionMd5.push_back(FrameMd5(decoded));
            if (index == shown) shownSource = source, shownDecoded = decoded;
        });

    // Decode the file as a player would, with a fresh instance, and compare picture by picture.
    AviReader reader(aviPath);
    Decompressor decompressor(reader.Format(), HostFormat::Uyvy);
    std::vector<uint8_t> picture(HostPictureBytes(HostFormat::Uyvy, report.width, report.height));
    Picture420 decoded;
    size_t matching = 0, readFrames = 0;
    double decodeSeconds = 0;
    AviFrame frame;
    while (reader.Next(frame)) {
        const size_t i = readFrames++;
        auto start = std::chrono::steady_clock::now();
        bool ok = decompressor.Decode(frame.data.data(), frame.data.size(), picture.data());
        decodeSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!ok) continue;
        UyvyToPicture420(picture.data(), report.width, report.height, decoded);
        if (i < reconstructionMd5.size() && FrameMd5(decoded) == reconstructionMd5[i]) ++matching;
    }
    WritePng(pngPath, 2 * shownSource.width, shownSource.height, SideBySide(shownSource, shownDecoded));

    const bool same = matching == reconstructionMd5.size() && readFrames == reconstructionMd5.size();
    std::printf("RQ43 demo: %lld frames of %dx%d at %u fps, synthesised (a panning texture)\n",
                static_cast<long long>(report.frames), report.width, report.height, kRate);
    std::printf("  file        %s, %llu bytes, %lld key frames\n", aviPath.c_str(),
                static_cast<unsigned long long>(report.bytes), static_cast<long long>(report.keyFrames));
    std::printf("  bit rate    %.1f kbit/s\n", report.Kbps());
    std::printf("  PSNR        Y %.2f  U %.2f  V %.2f  all %.2f dB\n", report.psnr.Y(), report.psnr.U(),
                report.psnr.V(), report.psnr.Overall());
    std::printf("  encode      %.1f fps\n",
                report.codecSeconds > 0 ? static_cast<double>(report.frames) / report.codecSeconds : 0.0);
    std::printf("  decode      %.1f fps\n",
                decodeSeconds > 0 ? static_cast<double>(readFrames) / decodeSeconds : 0.0);
    std::printf("  check       %s (%zu of %zu frames identical)\n",
                same ? "decoded frames equal the encoder's reconstruction"
                     : "MISMATCH between decoded frames and the encoder's reconstruction",
                matching, reconstructionMd5.size());
    std::printf("  picture     %s (frame %lld: source left, decoded right)\n", pngPath.c_str(),
                static_cast<long long>(shown));
    return same ? 0 : kExitFailure;
}

}  // namespace rq43::cli
