// Encodes (and optionally decodes) a raw top-down RGB24 clip through DriverProc and prints the bytes, a
// hash of the compressed frames and of the decoded pictures, so that two builds can be compared on real
// footage under an instruction counter. Links the codec alone: no media libraries to trip the counter.
//   rq43_encode_clip WIDTH HEIGHT CLIP.rgb [--fast] [--workers 1|2] [--target BYTES] [--decode]
// The settings go to the file named by RQ43_REGISTRY_FILE (set it to a scratch file).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/settings_store.h"
#include "driver/driver_proc.h"
#include "platform/processor.h"
#include "platform/vfw.h"

namespace {

using namespace rq43;

LRESULT Send(uintptr_t handle, UINT message, const void* p1 = nullptr, LPARAM p2 = 0) {
    return DriverProc(0, reinterpret_cast<HDRVR>(handle), message, reinterpret_cast<LPARAM>(p1), p2);
}

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

    CodecSettings settings;
    settings.fastSearch = fast ? 1 : 0;
    SaveCodecSettings(settings);
    platform::OverrideProcessorCount(workers);

    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = ICTYPE_VIDEO;
    const uintptr_t handle = 0xC11;
    Send(handle, DRV_OPEN, nullptr, reinterpret_cast<LPARAM>(&open));
    BITMAPINFOHEADER input{};
    input.biSize = sizeof input;
    input.biWidth = width;
    input.biHeight = -height;  // top-down, as the raw clip is
    input.biPlanes = 1;
    input.biBitCount = 24;
    input.biSizeImage = DWORD(frameBytes);
    BITMAPINFOHEADER format{};
    Send(handle, ICM_COMPRESS_GET_FORMAT, &input, reinterpret_cast<LPARAM>(&format));
    if (Send(handle, ICM_COMPRESS_BEGIN, &input, reinterpret_cast<LPARAM>(&format)) != ICERR_OK) return 1;
    std::vector<uint8_t> buffer(size_t(width) * size_t(height) * 4 + 64);
    std::vector<std::vector<uint8_t>> frames;
    uint64_t bytes = 0, hash = 1469598103934665603ull;
    for (size_t i = 0; i < clip.size(); ++i) {
        BITMAPINFOHEADER output = format;
        DWORD flags = 0, chunk = 0;
        ICCOMPRESS record{0,      &output, buffer.data(), &input, clip[i].data(), &chunk,
                          &flags, LONG(i), target,        7500,   nullptr,        nullptr};
        if (Send(handle, ICM_COMPRESS, &record, sizeof record) != ICERR_OK) return 1;
        frames.emplace_back(buffer.begin(), buffer.begin() + output.biSizeImage);
        bytes += output.biSizeImage;
        hash = Fnv(hash, buffer.data(), output.biSizeImage);
    }
    Send(handle, ICM_COMPRESS_END);
    std::printf("%zu frames %dx%d: %llu bytes, stream %016llx\n", clip.size(), width, height,
                static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(hash));
    if (decode) {
        BITMAPINFOHEADER picture = input;
        std::vector<uint8_t> pixels(frameBytes);
        Send(handle, ICM_DECOMPRESS_BEGIN, &format, reinterpret_cast<LPARAM>(&picture));
        uint64_t pictures = 1469598103934665603ull;
        for (const auto& frame : frames) {
            format.biSizeImage = DWORD(frame.size());
            ICDECOMPRESS record{0, &format, const_cast<uint8_t*>(frame.data()), &picture, pixels.data(), 0};
            if (Send(handle, ICM_DECOMPRESS, &record, sizeof record) != ICERR_OK) return 1;
            pictures = Fnv(pictures, pixels.data(), pixels.size());
        }
        Send(handle, ICM_DECOMPRESS_END);
        std::printf("decoded pictures %016llx\n", static_cast<unsigned long long>(pictures));
    }
    Send(handle, DRV_CLOSE);
    return 0;
}
