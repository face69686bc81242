#include "picture/input_conversion.h"

#include "picture/chroma_decimation.h"
#include "picture/colour_tables.h"
#include "picture/picture_kernels.h"

namespace rq43 {
namespace {

const uint8_t* SourceRow(const uint8_t* source, ptrdiff_t pitch, uint32_t row) {
    return source + static_cast<ptrdiff_t>(row) * pitch;
}

uint8_t* FrameRow(uint8_t* plane, const YuvFrame& frame, uint32_t row) {
    return plane + static_cast<ptrdiff_t>(row) * frame.stride;
}

// Sizes the frame's scratch for `bytes` and returns it; keeps the allocation across pictures.
uint8_t* Scratch(YuvFrame& frame, size_t bytes) {
    if (frame.conversionScratch.size() < bytes) frame.conversionScratch.resize(bytes);
    return frame.conversionScratch.data();
}

// Halves a full-resolution plane in both directions into a chroma plane of the frame.
void DecimatePlane(YuvFrame& frame, const uint8_t* full, uint8_t* chroma,
                   const dsp::PictureKernels& kernels) {
    const uint32_t w = frame.width;
    for (uint32_t k = 0; k < frame.height / 2; ++k) {
        DecimateVertically(full, w, w, frame.height, k, frame.lineBuffer, kernels.decimateColumns);
        DecimateHorizontally(frame.lineBuffer, w, FrameRow(chroma, frame, k));
    }
}

// Packed 4:2:2: luma bytes at lumaOffset + 2i, chroma bytes (U0 V0 U1 V1 ..) at the other half.
void ConvertPackedToYuv(ptrdiff_t pitch, const uint8_t* source, YuvFrame& frame, uint32_t lumaOffset) {
    if (!frame.allocated) return;
    const dsp::PictureKernels& kernels = ActivePictureKernels();
    const uint32_t w = frame.width;
    const uint32_t h = frame.height;
    uint8_t* chromaPlane = Scratch(frame, size_t{w} * h);
    for (uint32_t r = 0; r < h; ++r) {
        uint8_t* y = FrameRow(frame.y, frame, r);
        uint8_t* c = chromaPlane + size_t{r} * w;
        kernels.deinterleaveRow(SourceRow(source, pitch, r), w, lumaOffset == 0 ? y : c,
                                lumaOffset == 0 ? c : y);
    }
    // 4:2:2 chroma already has half width: only the vertical filter runs, on U and V columns alike.
    for (uint32_t k = 0; k < h / 2; ++k) {
        DecimateVertically(chromaPlane, w, w, h, k, frame.lineBuffer, kernels.decimateColumns);
        kernels.deinterleaveRow(frame.lineBuffer, w / 2, FrameRow(frame.u, frame, k),
                                FrameRow(frame.v, frame, k));
    }
}

}  // namespace

void ConvertRgbRowToYuv(const uint8_t* pixels, uint32_t width, int32_t bytesPerPixel,
                        const dsp::RgbInputTables& t, uint8_t* y, uint8_t* u, uint8_t* v) {
    const ClampTable& clamp = GetClampTable();
    constexpr int32_t shift = ColourTables::kShift;
    const auto step = static_cast<size_t>(bytesPerPixel);
    for (uint32_t x = 0; x < width; ++x, pixels += step) {
        const uint8_t b = pixels[0];
        const uint8_t g = pixels[1];
        const uint8_t red = pixels[2];
        y[x] = clamp[(t.tyR[red] + t.tyG[g] + t.tyB[b]) >> shift];
        u[x] = clamp[(t.tuR[red] + t.tuG[g] + t.tuB[b]) >> shift];
        v[x] = clamp[(t.tvR[red] + t.tvG[g] + t.tvB[b]) >> shift];
    }
}

void DeinterleaveRow(const uint8_t* in, uint32_t pairs, uint8_t* even, uint8_t* odd) {
    for (uint32_t i = 0; i < pairs; ++i) {
        even[i] = in[2 * i];
        odd[i] = in[2 * i + 1];
    }
}

dsp::RgbInputTables RgbInputTablesOf(const ColourTables& t) {
    return {t.tyR.data(), t.tyG.data(), t.tyB.data(), t.tuR.data(), t.tuG.data(),
            t.tuB.data(), t.tvR.data(), t.tvG.data(), t.tvB.data()};
}

void ConvertRgbToYuv(const uint8_t* source, YuvFrame& frame, int32_t bytesPerPixel, ptrdiff_t pitch) {
    if (!frame.allocated || (bytesPerPixel != 3 && bytesPerPixel != 4)) return;
    const dsp::PictureKernels& kernels = ActivePictureKernels();
    const dsp::RgbInputTables tables = RgbInputTablesOf(GetColourTables());
    const uint32_t w = frame.width;
    const size_t planeSize = size_t{w} * frame.height;
    uint8_t* fullU = Scratch(frame, 2 * planeSize);
    uint8_t* fullV = fullU + planeSize;
    for (uint32_t r = 0; r < frame.height; ++r) {
        kernels.rgbToYuvRow(SourceRow(source, pitch, r), w, bytesPerPixel, tables,
                            FrameRow(frame.y, frame, r), fullU + size_t{r} * w, fullV + size_t{r} * w);
    }
    DecimatePlane(frame, fullU, frame.u, kernels);
    DecimatePlane(frame, fullV, frame.v, kernels);
}

void ConvertYuy2ToYuv(ptrdiff_t pitch, const uint8_t* source, YuvFrame& frame) {
    ConvertPackedToYuv(pitch, source, frame, 0);
}

void ConvertUyvyToYuv(ptrdiff_t pitch, const uint8_t* source, YuvFrame& frame) {
    ConvertPackedToYuv(pitch, source, frame, 1);
}

}  // namespace rq43
