// The Linux side of the cross-check: drives librq43.so exactly as the Windows host drives rq43.dll
// through the manager (same pictures, same messages, same parameters) and writes the same checksum
// lines, so that the two files must be equal.
//
//   linux_reference MODULE OUTFILE    exit 0: written; 3: the module has no compression sequence
#include <dlfcn.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/vfw.h"
#include "synthetic_sequence.h"

namespace {

using namespace rq43;
using namespace rq43::crosscheck;
using DriverProcFunction = int64_t (*)(uintptr_t, void*, uint32_t, intptr_t, intptr_t);

DriverProcFunction proc = nullptr;

template <typename T>
intptr_t Param(T* pointer) {
    return reinterpret_cast<intptr_t>(pointer);
}

// One open instance, as ICOpen makes it.
struct Instance {
    explicit Instance(uintptr_t handle) : driver(reinterpret_cast<void*>(handle)) {
        proc(0, driver, DRV_LOAD, 0, 0);
        proc(0, driver, DRV_ENABLE, 0, 0);
        ICOPEN open{};
        open.dwSize = sizeof open;
        open.fccType = ICTYPE_VIDEO;
        open.fccHandler = FOURCC_RQ43;
        opened = proc(0, driver, DRV_OPEN, 0, Param(&open)) != 0;
    }
    ~Instance() { proc(0, driver, DRV_CLOSE, 0, 0); }
    int64_t Send(uint32_t message, intptr_t p1 = 0, intptr_t p2 = 0) { return proc(0, driver, message, p1, p2); }
    void* driver;
    bool opened = false;
};

BITMAPINFOHEADER RgbHeader(int bits) { return rq43::crosscheck::RgbHeader<BITMAPINFOHEADER>(bits); }

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
    BITMAPINFOHEADER in = RgbHeader(24);
    std::vector<uint8_t> formatBytes;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<bool> keys;
    {
        Instance codec(0x5001);
        if (!codec.opened) return 1;
        int64_t formatSize = codec.Send(ICM_COMPRESS_GET_FORMAT, Param(&in), 0);
        formatBytes.assign(static_cast<size_t>(formatSize), 0);
        auto* out = reinterpret_cast<BITMAPINFOHEADER*>(formatBytes.data());
        if (codec.Send(ICM_COMPRESS_GET_FORMAT, Param(&in), Param(out)) != ICERR_OK) return 1;
        auto bound = static_cast<DWORD>(codec.Send(ICM_COMPRESS_GET_SIZE, Param(&in), Param(out)));
        int64_t begun = codec.Send(ICM_COMPRESS_BEGIN, Param(&in), Param(out));
        if (begun == ICERR_UNSUPPORTED) return 3;
        if (begun != ICERR_OK) return 1;
        for (int k = 0; k < kFrames; ++k) {
            std::vector<uint8_t> picture = SyntheticFrame(k);
            std::vector<uint8_t> buffer(bound);
            out->biSizeImage = bound;
            DWORD ckid = 0, flags = 0;
            ICCOMPRESS request{};
            request.dwFlags = k == 0 ? ICCOMPRESS_KEYFRAME : 0;
            request.lpbiOutput = out;
            request.lpOutput = buffer.data();
            request.lpbiInput = &in;
            request.lpInput = picture.data();
            request.lpckid = &ckid;
            request.lpdwFlags = &flags;
            request.lFrameNum = k;
            request.dwFrameSize = 0;
            request.dwQuality = kQuality;
            if (codec.Send(ICM_COMPRESS, Param(&request), sizeof request) != ICERR_OK) return 1;
            buffer.resize(out->biSizeImage);
            bool key = (flags & AVIIF_KEYFRAME) != 0;
            checksums += ChecksumLine(key ? "key" : "delta", k, buffer.data(), buffer.size());
            frames.push_back(std::move(buffer));
            keys.push_back(key);
        }
        codec.Send(ICM_COMPRESS_END);
    }
    for (int bits : {24, 32}) {
        Instance codec(0x5002);
        auto* compressed = reinterpret_cast<BITMAPINFOHEADER*>(formatBytes.data());
        BITMAPINFOHEADER out = RgbHeader(bits);
        if (codec.Send(ICM_DECOMPRESS_BEGIN, Param(compressed), Param(&out)) != ICERR_OK) return 1;
        std::vector<uint8_t> picture(out.biSizeImage);
        for (size_t k = 0; k < frames.size(); ++k) {
            compressed->biSizeImage = static_cast<DWORD>(frames[k].size());
            ICDECOMPRESS request{};
            request.dwFlags = keys[k] ? 0 : ICDECOMPRESS_NOTKEYFRAME;
            request.lpbiInput = compressed;
            request.lpInput = frames[k].data();
            request.lpbiOutput = &out;
            request.lpOutput = picture.data();
            if (codec.Send(ICM_DECOMPRESS, Param(&request), sizeof request) != ICERR_OK) return 1;
            checksums += ChecksumLine(bits == 24 ? "rgb24" : "rgb32", static_cast<int>(k), picture.data(),
                                      picture.size());
        }
        codec.Send(ICM_DECOMPRESS_END);
    }
    FILE* file = std::fopen(argv[2], "wb");
    if (!file) return 1;
    std::fputs(checksums.c_str(), file);
    return std::fclose(file) == 0 ? 0 : 1;
}
