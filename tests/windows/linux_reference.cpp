// The Linux side of the cross-check: drives librq43.so exactly as the Windows host drives rq43.dll
// through the manager (same pictures, same messages, same parameters) and writes the same checksum
// lines, so that the two files must be equal. Built on its own, with the host layer's sessions only
// (scripts/windows_test.sh):
//
//   linux_reference MODULE OUTFILE    exit 0: written; 3: the module has no compression sequence
#include <dlfcn.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/codec_host.h"
#include "synthetic_sequence.h"

namespace {

using namespace rq43;
using namespace rq43::crosscheck;

DriverProcFunction proc = nullptr;

// What the manager sends before the first instance opens.
void LoadDriver(uintptr_t handle) {
    proc(0, reinterpret_cast<HDRVR>(handle), DRV_LOAD, 0, 0);
    proc(0, reinterpret_cast<HDRVR>(handle), DRV_ENABLE, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: linux_reference MODULE OUTFILE\n");
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module || !(proc = reinterpret_cast<DriverProcFunction>(dlsym(module, "DriverProc")))) {
        std::fprintf(stderr, "linux_reference: %s\n", dlerror());
        return 1;
    }
    std::string checksums;
    const auto in = RgbHeader<BITMAPINFOHEADER>(24);
    BITMAPINFOHEADER compressed{};
    std::vector<std::vector<uint8_t>> frames;
    std::vector<bool> keys;
    {
        LoadDriver(0x5001);
        EncoderSession codec(0x5001, in, proc);
        if (!codec.host.Opened() || codec.formatResult != ICERR_OK) return 1;
        const LRESULT begun = codec.Begin();
        if (begun == ICERR_UNSUPPORTED) return 3;
        if (begun != ICERR_OK) return 1;
        compressed = codec.CompressedFormat();
        for (int k = 0; k < kFrames; ++k) {
            CompressOptions options;
            options.flags = k == 0 ? ICCOMPRESS_KEYFRAME : 0;
            options.quality = kQuality;
            CompressedFrame frame;
            if (codec.Compress(SyntheticFrame(k), k, &frame, options) != ICERR_OK) return 1;
            checksums += ChecksumLine(frame.key ? "key" : "delta", k, frame.bytes.data(), frame.bytes.size());
            frames.push_back(std::move(frame.bytes));
            keys.push_back(frame.key);
        }
    }
    for (int bits : {24, 32}) {
        LoadDriver(0x5002);
        DecoderSession codec(0x5002, compressed, RgbHeader<BITMAPINFOHEADER>(bits), proc);
        if (codec.Begin() != ICERR_OK) return 1;
        std::vector<uint8_t> picture(codec.output.biSizeImage);
        for (size_t k = 0; k < frames.size(); ++k) {
            const DWORD flags = keys[k] ? 0 : ICDECOMPRESS_NOTKEYFRAME;
            if (codec.Decompress(frames[k].data(), frames[k].size(), picture.data(), flags) != ICERR_OK)
                return 1;
            checksums += ChecksumLine(bits == 24 ? "rgb24" : "rgb32", static_cast<int>(k), picture.data(),
                                      picture.size());
        }
    }
    FILE* file = std::fopen(argv[2], "wb");
    if (!file) return 1;
    std::fputs(checksums.c_str(), file);
    return std::fclose(file) == 0 ? 0 : 1;
}
