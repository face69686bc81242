// Encodes (and optionally decodes) a raw top-down RGB24 clip through DriverProc and prints the bytes, a
// hash of the compressed frames and of the decoded pictures, so that two builds can be compared on real
// footage under an instruction counter. Links the codec alone: no media libraries to trip the counter.
//   rq43_encode_clip WIDTH HEIGHT CLIP.rgb [--fast] [--workers 1|2] [--target BYTES] [--decode]
// The settings go to the file named by RQ43_REGISTRY_FILE, which must be set: a scratch file, never the
// user's own settings.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/settings_store.h"
#include "host/codec_host.h"
#include "host/host_format.h"
#include "platform/processor.h"

namespace {

using namespace rq43;

uint64_t Fnv(uint64_t hash, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
    return hash;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: %s WIDTH HEIGHT CLIP.rgb [--fast] [--workers 1|2] [--target BYTES] [--decode]\n",
                     argv[0]);
        return 2;
    }
    const int32_t width = std::atoi(argv[1]), height = std::atoi(argv[2]);
    bool fast = false, decode = false;
    uint32_t workers = 1;
    DWORD target = 0;
    for (int i = 4; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--fast")
            fast = true;
        else if (a == "--decode")
            decode = true;
        else if (a == "--workers" && i + 1 < argc)
            workers = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (a == "--target" && i + 1 < argc)
            target = static_cast<DWORD>(std::atol(argv[++i]));
        else
            return 2;
    }
    FILE* file = std::fopen(argv[3], "rb");
    if (file == nullptr) return 1;
    const size_t frameBytes = size_t(width) * size_t(height) * 3;
    std::vector<std::vector<uint8_t>> clip;
    for (std::vector<uint8_t> frame(frameBytes); std::fread(frame.data(), 1, frameBytes, file) == frameBytes;)
        clip.push_back(frame);
    std::fclose(file);

    // Stored settings outlive the run: left to the default store, a --fast run would make the user's next
    // encodes fast ones.
    const char* store = std::getenv("RQ43_REGISTRY_FILE");
    if (store == nullptr || *store == '\0') {
        std::fprintf(stderr, "%s: set RQ43_REGISTRY_FILE to a scratch file for the settings of the run\n",
                     argv[0]);
        return 2;
    }
    CodecSettings settings;
    settings.fastSearch = fast ? 1 : 0;
    SaveCodecSettings(settings);
    platform::OverrideProcessorCount(workers);

    // Top-down, as the raw clip is.
    const BITMAPINFOHEADER input = HostHeader(HostFormat::Rgb24, width, height, true);
    EncoderSession encoder(0xC11, input);
    if (encoder.Begin() != ICERR_OK) return 1;
    CompressOptions options;
    options.frameSize = target;
    std::vector<std::vector<uint8_t>> frames;
    frames.reserve(clip.size());
    uint64_t bytes = 0, hash = 1469598103934665603ull;
    // Reading the clip and hashing the frames are timed apart: with two workers they are serial work that
    // would hide their gain.
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < clip.size(); ++i) {
        CompressedFrame frame;
        if (encoder.Compress(clip[i], LONG(i), &frame, options) != ICERR_OK) return 1;
        frames.push_back(std::move(frame.bytes));
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    for (const auto& frame : frames) {
        bytes += frame.size();
        hash = Fnv(hash, frame.data(), frame.size());
    }
    std::printf("%zu frames %dx%d: %llu bytes, stream %016llx\n", clip.size(), width, height,
                static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(hash));
    std::fprintf(stderr, "encoding: %.1f frames per second\n", double(clip.size()) / seconds.count());
    if (decode) {
        DecoderSession decoder(0xC12, encoder.CompressedFormat(), input);
        if (decoder.Begin() != ICERR_OK) return 1;
        std::vector<uint8_t> pixels(frameBytes);
        uint64_t pictures = 1469598103934665603ull;
        for (const auto& frame : frames) {
            if (decoder.Decompress(frame.data(), frame.size(), pixels.data()) != ICERR_OK) return 1;
            pictures = Fnv(pictures, pixels.data(), pixels.size());
        }
        std::printf("decoded pictures %016llx\n", static_cast<unsigned long long>(pictures));
    }
    return 0;
}
