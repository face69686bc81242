// The decoder as a host drives it: the input picks the picture size, the output format and orientation,
// ICM_DECOMPRESS or ICM_DECOMPRESSEX, and splits the rest into frames, each handed over in a buffer of
// exactly its length. Nothing may read past a chunk or write past the picture.
//
// Layout: width and height in macroblocks (1 to 8 each), a mode byte (bits 0-1 output format, bit 2
// top-down, bit 3 the Ex messages, bit 4 no input header at begin), then per frame a flags byte
// (bit 0 null frame, bit 1 hurry-up, bit 2 an empty chunk, bit 3 the other orientation), a 16-bit length and
// that many bytes.
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "support/driver_host.h"

namespace {

using namespace rq43;
using rq43::fuzz::FuzzInput;
using rq43::testing::Param;

struct Output {
    uint32_t compression;
    uint16_t bits;
};
constexpr Output kOutputs[] = {{BI_RGB, 24}, {BI_RGB, 32}, {FOURCC_YUY2, 16}, {FOURCC_UYVY, 16}};
constexpr int kMaxFrames = 24;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const int32_t width = 16 * (1 + (input.Byte() & 7));
    const int32_t height = 16 * (1 + (input.Byte() & 7));
    const uint8_t mode = input.Byte();
    const Output output = kOutputs[mode & 3];
    const bool topDown = (mode & 4) != 0;
    const bool ex = (mode & 8) != 0;

    BITMAPINFOHEADER compressed = testing::Header(width, height, 24, FOURCC_RQ43);
    BITMAPINFOHEADER picture =
        testing::Header(width, topDown ? -height : height, output.bits, output.compression);
    testing::OpenInstance host(0xF00D);
    ICDECOMPRESSEX record{};
    record.lpbiSrc = (mode & 16) ? nullptr : &compressed;
    record.lpbiDst = &picture;
    const LRESULT begun = ex ? host.Message(ICM_DECOMPRESSEX_BEGIN, Param(&record), sizeof record)
                             : host.Message(ICM_DECOMPRESS_BEGIN, Param(record.lpbiSrc), Param(&picture));
    if (begun != ICERR_OK) return 0;

    std::vector<uint8_t> pixels(picture.biSizeImage);
    for (int frame = 0; frame < kMaxFrames && !input.Empty(); ++frame) {
        const uint8_t flags = input.Byte();
        std::vector<uint8_t> chunk = input.Bytes(input.U16());
        BITMAPINFOHEADER chunkHeader = compressed;
        BITMAPINFOHEADER frameOutput = picture;
        if (flags & 8) frameOutput.biHeight = -frameOutput.biHeight;
        chunkHeader.biSizeImage = (flags & 4) ? 0 : static_cast<DWORD>(chunk.size());
        const DWORD decompressFlags =
            ((flags & 1) ? ICDECOMPRESS_NULLFRAME : 0) | ((flags & 2) ? ICDECOMPRESS_HURRYUP : 0);
        if (ex) {
            ICDECOMPRESSEX frameRecord = record;
            frameRecord.dwFlags = decompressFlags;
            frameRecord.lpbiSrc = &chunkHeader;
            frameRecord.lpSrc = chunk.data();
            frameRecord.lpbiDst = &frameOutput;
            frameRecord.lpDst = pixels.data();
            host.Message(ICM_DECOMPRESSEX, Param(&frameRecord), sizeof frameRecord);
        } else {
            ICDECOMPRESS frameRecord{decompressFlags, &chunkHeader,  chunk.data(),
                                     &frameOutput,    pixels.data(), 0};
            host.Message(ICM_DECOMPRESS, Param(&frameRecord), sizeof frameRecord);
        }
    }
    host.Message(ex ? ICM_DECOMPRESSEX_END : ICM_DECOMPRESS_END);
    return 0;
}
