// Row kernels of the picture conversions (packed 4:2:2 and RGB output, RGB input, the byte split of packed
// input, the 6-tap chroma decimation) and of the source prefilter. Every kernel takes any width (not only
// multiples of its vector step) and reads and writes exactly the bytes its arguments name.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rq43::dsp {

// The YUV -> RGB tables: 256 entries each, in units of 2^-18.
struct RgbOutputTables {
    const int32_t* ty;
    const int32_t* trV;
    const int32_t* tgV;
    const int32_t* tgU;
    const int32_t* tbU;
};

// The RGB -> YUV tables: 256 entries each, in units of 2^-18, indexed by the red, green or blue byte.
struct RgbInputTables {
    const int32_t* tyR;
    const int32_t* tyG;
    const int32_t* tyB;
    const int32_t* tuR;
    const int32_t* tuG;
    const int32_t* tuB;
    const int32_t* tvR;
    const int32_t* tvG;
    const int32_t* tvB;
    // The Y and U entries of each together: Y in the low 32 bits, U in the high (see ColourTables).
    const int64_t* tyuR;
    const int64_t* tyuG;
    const int64_t* tyuB;
};

// `pairs` pixel pairs of one row into packed 4:2:2: y holds 2 * pairs samples, u and v `pairs` each.
using PackRowFn = void (*)(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs,
                           uint8_t* out);
// `width` pixels of one row to B, G, R bytes (bytesPerPixel 3) or B, G, R and an untouched fourth byte
// (bytesPerPixel 4); pixel x takes chroma u[x / 2], v[x / 2].
using YuvToRgbRowFn = void (*)(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width,
                               int32_t bytesPerPixel, const RgbOutputTables& tables, uint8_t* out);
// `width` B, G, R(, ignored) pixels of one row to Y, U and V samples of full resolution.
using RgbToYuvRowFn = void (*)(const uint8_t* pixels, uint32_t width, int32_t bytesPerPixel,
                               const RgbInputTables& tables, uint8_t* y, uint8_t* u, uint8_t* v);
// Bytes 2i of `in` to even[i] and bytes 2i + 1 to odd[i], for i below `pairs`.
using DeinterleaveRowFn = void (*)(const uint8_t* in, uint32_t pairs, uint8_t* even, uint8_t* odd);
// The 6-tap filter down the columns: out[x] = filter of rows[0][x] .. rows[5][x].
using DecimateColumnsFn = void (*)(const uint8_t* const* rows, uint32_t width, uint8_t* out);
// The 6-tap filter along a row, away from its ends: out[k] = filter of in[2k] .. in[2k + 5], k below `count`.
using DecimatePairsFn = void (*)(const uint8_t* in, uint32_t count, uint8_t* out);
// One row of a prefilter pass: the new values of `row`, from the old values of row, above and below (either
// nullptr at the plane's ends), go to `pending`; column by column, once its old value has been read,
// above takes the new value pending held for it. psi[255 + d] is the influence of difference d.
using PrefilterRowFn = void (*)(uint8_t* above, const uint8_t* row, const uint8_t* below, uint32_t width,
                                const float* psi, uint8_t* pending);

struct PictureKernels {
    PackRowFn packUyvyRow;
    PackRowFn packYuy2Row;
    YuvToRgbRowFn yuvToRgbRow;
    RgbToYuvRowFn rgbToYuvRow;
    DeinterleaveRowFn deinterleaveRow;
    DecimateColumnsFn decimateColumns;
    DecimatePairsFn decimatePairs;
    PrefilterRowFn prefilterRow;
};

void PackUyvyRowSse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out);
void PackYuy2RowSse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out);
void YuvToRgbRowSse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width,
                     int32_t bytesPerPixel, const RgbOutputTables& tables, uint8_t* out);
void DeinterleaveRowSse2(const uint8_t* in, uint32_t pairs, uint8_t* even, uint8_t* odd);
void DecimateColumnsSse2(const uint8_t* const* rows, uint32_t width, uint8_t* out);

void PackUyvyRowAvx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out);
void PackYuy2RowAvx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out);
void RgbToYuvRowAvx2(const uint8_t* pixels, uint32_t width, int32_t bytesPerPixel,
                     const RgbInputTables& tables, uint8_t* y, uint8_t* u, uint8_t* v);
void DeinterleaveRowAvx2(const uint8_t* in, uint32_t pairs, uint8_t* even, uint8_t* odd);
void DecimateColumnsAvx2(const uint8_t* const* rows, uint32_t width, uint8_t* out);
void DecimatePairsAvx2(const uint8_t* in, uint32_t count, uint8_t* out);
void PrefilterRowAvx2(uint8_t* above, const uint8_t* row, const uint8_t* below, uint32_t width,
                      const float* psi, uint8_t* pending);

}  // namespace rq43::dsp
