#include "picture/input_conversion.h"

#include "picture/chroma_decimation.h"
#include "picture/colour_tables.h"

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
void DecimatePlane(YuvFrame& frame, const uint8_t* full, uint8_t* chroma) {
    const uint32_t w = frame.width;
    for (uint32_t k = 0; k < frame.height / 2; ++k) {
        DecimateVertically(full, w, w, frame.height, k, frame.lineBuffer);
        DecimateHorizontally(frame.lineBuffer, w, FrameRow(chroma, frame, k));
    }
}

// Packed 4:2:2: luma bytes at lumaOffset + 2i, chroma bytes (U0 V0 U1 V1 ..) at the other half.
void ConvertPackedToYuv(ptrdiff_t pitch, const uint8_t* source, YuvFrame& frame, uint32_t lumaOffset) {
    if (!frame.allocated) return;
    const uint32_t w = frame.width;
    const uint32_t h = frame.height;
    uint8_t* chromaPlane = Scratch(frame, size_t{w} * h);
    const uint32_t chromaOffset = 1 - lumaOffset;
    for (uint32_t r = 0; r < h; ++r) {
        const uint8_t* in = SourceRow(source, pitch, r);
        uint8_t* y = FrameRow(frame.y, frame, r);
        uint8_t* c = chromaPlane + size_t{r} * w;
        for (uint32_t i = 0; i < w; ++i) {
            y[i] = in[2 * i + lumaOffset];
            c[i] = in[2 * i + chromaOffset];
        }
    }
    // 4:2:2 chroma already has half width: only the vertical filter runs, on U and V columns alike.
    for (uint32_t k = 0; k < h / 2; ++k) {
        DecimateVertically(chromaPlane, w, w, h, k, frame.lineBuffer);
        uint8_t* u = FrameRow(frame.u, frame, k);
        uint8_t* v = FrameRow(frame.v, frame, k);
        for (uint32_t j = 0; j < w / 2; ++j) {
            u[j] = frame.lineBuffer[2 * j];
            v[j] = frame.lineBuffer[2 * j + 1];
        }
    }
}

}  // namespace

void ConvertRgbToFullResolution(const uint8_t* source, ptrdiff_t pitch, int32_t bytesPerPixel, uint32_t width,
                                uint32_t height, uint8_t* y, ptrdiff_t yStride, uint8_t* fullU, uint8_t* fullV) {
    const ColourTables& t = GetColourTables();
    const ClampTable& clamp = GetClampTable();
    constexpr int32_t shift = ColourTables::kShift;
    const auto step = static_cast<size_t>(bytesPerPixel);
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* pixel = SourceRow(source, pitch, r);
        uint8_t* yRow = y + static_cast<ptrdiff_t>(r) * yStride;
        uint8_t* uRow = fullU + size_t{r} * width;
        uint8_t* vRow = fullV + size_t{r} * width;
        for (uint32_t x = 0; x < width; ++x, pixel += step) {
            const uint8_t b = pixel[0];
            const uint8_t g = pixel[1];
            const uint8_t red = pixel[2];
            yRow[x] = clamp[(t.tyR[red] + t.tyG[g] + t.tyB[b]) >> shift];
            uRow[x] = clamp[(t.tuR[red] + t.tuG[g] + t.tuB[b]) >> shift];
            vRow[x] = clamp[(t.tvR[red] + t.tvG[g] + t.tvB[b]) >> shift];
        }
    }
}

void ConvertRgbToYuv(const uint8_t* source, YuvFrame& frame, int32_t bytesPerPixel, ptrdiff_t pitch) {
    if (!frame.allocated || (bytesPerPixel != 3 && bytesPerPixel != 4)) return;
    const size_t planeSize = size_t{frame.width} * frame.height;
    uint8_t* fullU = Scratch(frame, 2 * planeSize);
    uint8_t* fullV = fullU + planeSize;
    ConvertRgbToFullResolution(source, pitch, bytesPerPixel, frame.width, frame.height, frame.y, frame.stride,
                               fullU, fullV);
    DecimatePlane(frame, fullU, frame.u);
    DecimatePlane(frame, fullV, frame.v);
}

void ConvertYuy2ToYuv(ptrdiff_t pitch, const uint8_t* source, YuvFrame& frame) {
    ConvertPackedToYuv(pitch, source, frame, 0);
}

void ConvertUyvyToYuv(ptrdiff_t pitch, const uint8_t* source, YuvFrame& frame) {
    ConvertPackedToYuv(pitch, source, frame, 1);
}

}  // namespace rq43
