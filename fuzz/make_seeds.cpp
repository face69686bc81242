// Writes the seed corpus of the fuzz targets into the folder given (fuzz/corpus): short streams made by
// the codec's own encoder, and well-formed message sequences, in each target's input layout.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/moving_clip.h"
#include "support/codec_session.h"
#include "support/scratch_registry.h"

namespace {

using namespace rq43;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

void Put16(Bytes& bytes, uint32_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void Write(const fs::path& file, const Bytes& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A 32x32 clip of `frames` frames (the first a key frame) in the decoder target's layout.
Bytes DecoderSeed(uint8_t mode, int frames, DWORD quality) {
    const int32_t size = 32;
    Bytes seed{1, 1, mode};
    testing::EncoderSession encoder(0x5EED, HostHeader(HostFormat::Rgb24, size, size, false));
    for (int i = 0; i < frames; ++i) {
        auto picture = ClipPictureRgb24(size, size, i, 3);
        testing::CompressedFrame chunk;
        if (encoder.Compress(picture, i, &chunk, {0, 0, quality}) != ICERR_OK) return {};
        seed.push_back(0);
        Put16(seed, static_cast<uint32_t>(chunk.bytes.size()));
        seed.insert(seed.end(), chunk.bytes.begin(), chunk.bytes.end());
    }
    return seed;
}

// Two frames of a 16x16 or 32x32 picture with the given mode byte, in the encoder target's layout.
Bytes EncoderSeed(uint8_t sizeCode, uint8_t mode, uint16_t quality, uint16_t target) {
    Bytes seed{sizeCode, sizeCode, mode, 0, 1};
    Put16(seed, quality);
    Put16(seed, 2000);
    for (int frame = 0; frame < 2; ++frame) {
        seed.push_back(frame == 0 ? 1 : 0);
        Put16(seed, quality);
        Put16(seed, target);
        for (int i = 0; i < 48; ++i) seed.push_back(static_cast<uint8_t>(i * 5 + frame * 17));
    }
    return seed;
}

void PutHeader(Bytes& bytes, int32_t width, int32_t height, uint16_t bits, uint32_t compression) {
    BITMAPINFOHEADER header = testing::Header(width, height, bits, compression);
    const auto* raw = reinterpret_cast<const uint8_t*>(&header);
    bytes.insert(bytes.end(), raw, raw + sizeof header);
}

// Every operation once, with the headers a real host sends.
Bytes FormatsSeed() {
    Bytes seed;
    for (uint8_t operation = 0; operation < 13; ++operation) {
        seed.push_back(operation);
        const bool compressedInput = (operation >= 3 && operation <= 5) || operation == 10 || operation == 11;
        if (compressedInput) {
            PutHeader(seed, 64, 48, 24, FOURCC_RQ43);
            PutHeader(seed, 64, -48, 32, BI_RGB);
        } else {
            PutHeader(seed, 64, 48, 24, BI_RGB);
            PutHeader(seed, 64, 48, 24, FOURCC_RQ43);
        }
        if (operation == 6) Put16(seed, sizeof(ICINFO));
        if (operation == 7) seed.insert(seed.end(), {0x58, 0x1B, 0, 0, 0, 0, 1, 0, 25, 0, 0, 0, 1, 0, 0, 0});
        if (operation == 8) seed.insert(seed.end(), {0x10, 0x27, 0, 0});
    }
    return seed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    testing::ScratchRegistry registry;
    const fs::path corpus = argv[1];
    Write(corpus / "decoder" / "rgb24-3-frames", DecoderSeed(0, 3, 6000));
    Write(corpus / "decoder" / "yuy2-top-down-ex", DecoderSeed(4 | 8 | 2, 2, 9000));
    Write(corpus / "encoder" / "rgb24-plain", EncoderSeed(1, 0, 7000, 0));
    Write(corpus / "encoder" / "yuy2-all-settings-rate",
          EncoderSeed(0, 2 | 8 | 16 | 32 | 64 | 128, 9000, 300));
    Write(corpus / "formats" / "every-operation", FormatsSeed());
    return 0;
}
