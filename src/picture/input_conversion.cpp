#include "picture/input_conversion.h"

#include <algorithm>
#include <utility>

#include "picture/chroma_decimation.h"
#include "picture/colour_tables.h"
#include "picture/picture_kernels.h"
#include "platform/worker_split.h"

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

constexpr uint32_t kBandRows = 16;
// A line of the vertical filter, per worker; the kernels may store a little past `width`.
constexpr size_t kLineSlack = 64;

// Sizes the frame's scratch for `planeBytes` of full-resolution chroma plus a filter line per worker.
struct ConversionScratch {
    uint8_t* planes;
    uint8_t* lines[2];
};
ConversionScratch ScratchFor(YuvFrame& frame, size_t planeBytes) {
    const size_t line = size_t{frame.width} + kLineSlack;
    uint8_t* base = Scratch(frame, planeBytes + 2 * line);
    return {base, {base + planeBytes, base + planeBytes + line}};
}

// RGB keeps both chroma planes at full resolution, packed 4:2:2 one: the most any converter keeps.
size_t RgbPlaneBytes(const YuvFrame& frame) {
    return 2 * size_t{frame.width} * frame.height;
}

// The picture in bands of rows shared by the workers: convertRows(first, end) fills the full-resolution
// rows of a band; decimateRow(k, line) then writes chroma row k, which reads full rows up to 2k + 3, so a
// band of chroma rows waits for the bands of full rows it reads. Each row is written by one worker alone.
template <typename ConvertRows, typename DecimateRow>
void ConvertInBands(const YuvFrame& frame, platform::WorkerPair* workers, uint8_t* const lines[2],
                    const ConvertRows& convertRows, const DecimateRow& decimateRow) {
    const uint32_t h = frame.height;
    const uint32_t bands = (h + kBandRows - 1) / kBandRows;
    const uint32_t chromaRows = h / 2;
    constexpr uint32_t kChromaBandRows = kBandRows / 2;
    const uint32_t chromaBands = (chromaRows + kChromaBandRows - 1) / kChromaBandRows;
    platform::FinishedUnits converted(bands);
    platform::RunUnits(workers, bands + chromaBands, [&](uint32_t unit, int worker) {
        if (unit < bands) {
            convertRows(unit * kBandRows, std::min(h, (unit + 1) * kBandRows));
            converted.Finish(unit);
            return;
        }
        const uint32_t first = (unit - bands) * kChromaBandRows;
        const uint32_t end = std::min(chromaRows, first + kChromaBandRows);
        const uint32_t lastRead = std::min(h - 1, 2 * end + 1);
        for (uint32_t band = 0; band <= lastRead / kBandRows; ++band) converted.WaitFor(band);
        for (uint32_t k = first; k < end; ++k) decimateRow(k, lines[worker]);
    });
}

// Packed 4:2:2: luma bytes at lumaOffset + 2i, chroma bytes (U0 V0 U1 V1 ..) at the other half.
void ConvertPackedToYuv(ptrdiff_t pitch, const uint8_t* source, YuvFrame& frame, uint32_t lumaOffset,
                        platform::WorkerPair* workers) {
    if (!frame.allocated) return;
    const dsp::PictureKernels& kernels = ActivePictureKernels();
    const uint32_t w = frame.width;
    const uint32_t h = frame.height;
    const ConversionScratch scratch = ScratchFor(frame, size_t{w} * h);
    uint8_t* chromaPlane = scratch.planes;
    auto convertRows = [&](uint32_t first, uint32_t end) {
        for (uint32_t r = first; r < end; ++r) {
            uint8_t* y = FrameRow(frame.y, frame, r);
            uint8_t* c = chromaPlane + size_t{r} * w;
            kernels.deinterleaveRow(SourceRow(source, pitch, r), w, lumaOffset == 0 ? y : c,
                                    lumaOffset == 0 ? c : y);
        }
    };
    // 4:2:2 chroma already has half width: only the vertical filter runs, on U and V columns alike.
    auto decimateRow = [&](uint32_t k, uint8_t* line) {
        DecimateVertically(chromaPlane, w, w, h, k, line, kernels.decimateColumns);
        kernels.deinterleaveRow(line, w / 2, FrameRow(frame.u, frame, k), FrameRow(frame.v, frame, k));
    };
    ConvertInBands(frame, workers, scratch.lines, convertRows, decimateRow);
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
    return {t.tyR.data(), t.tyG.data(), t.tyB.data(), t.tuR.data(),  t.tuG.data(),  t.tuB.data(),
            t.tvR.data(), t.tvG.data(), t.tvB.data(), t.tyuR.data(), t.tyuG.data(), t.tyuB.data()};
}

void ConvertRgbToYuv(const uint8_t* source, YuvFrame& frame, int32_t bytesPerPixel, ptrdiff_t pitch,
                     platform::WorkerPair* workers) {
    if (!frame.allocated || (bytesPerPixel != 3 && bytesPerPixel != 4)) return;
    const dsp::PictureKernels& kernels = ActivePictureKernels();
    const dsp::RgbInputTables tables = RgbInputTablesOf(GetColourTables());
    const uint32_t w = frame.width;
    const size_t planeSize = size_t{w} * frame.height;
    const ConversionScratch scratch = ScratchFor(frame, RgbPlaneBytes(frame));
    uint8_t* fullU = scratch.planes;
    uint8_t* fullV = fullU + planeSize;
    auto convertRows = [&](uint32_t first, uint32_t end) {
        for (uint32_t r = first; r < end; ++r) {
            kernels.rgbToYuvRow(SourceRow(source, pitch, r), w, bytesPerPixel, tables,
                                FrameRow(frame.y, frame, r), fullU + size_t{r} * w, fullV + size_t{r} * w);
        }
    };
    // Halves the full-resolution planes in both directions.
    auto decimateRow = [&](uint32_t k, uint8_t* line) {
        for (const auto& [full, chroma] : {std::pair{fullU, frame.u}, std::pair{fullV, frame.v}}) {
            DecimateVertically(full, w, w, frame.height, k, line, kernels.decimateColumns);
            DecimateHorizontally(line, w, FrameRow(chroma, frame, k), kernels.decimatePairs);
        }
    };
    ConvertInBands(frame, workers, scratch.lines, convertRows, decimateRow);
}

void ConvertYuy2ToYuv(ptrdiff_t pitch, const uint8_t* source, YuvFrame& frame,
                      platform::WorkerPair* workers) {
    ConvertPackedToYuv(pitch, source, frame, 0, workers);
}

void ConvertUyvyToYuv(ptrdiff_t pitch, const uint8_t* source, YuvFrame& frame,
                      platform::WorkerPair* workers) {
    ConvertPackedToYuv(pitch, source, frame, 1, workers);
}

void SizeConversionScratch(YuvFrame& frame) {
    if (frame.allocated) ScratchFor(frame, RgbPlaneBytes(frame));
}

}  // namespace rq43
