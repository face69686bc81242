#include "picture/chroma_decimation.h"

#include <algorithm>

namespace rq43 {
namespace {

constexpr int32_t kOuterTap = -127;
constexpr int32_t kMiddleTap = 1977;
constexpr int32_t kInnerTap = 14534;

uint8_t Filter(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f) {
    const int32_t sum = kOuterTap * (a + f) + kMiddleTap * (b + e) + kInnerTap * (c + d);
    return static_cast<uint8_t>(std::clamp((sum + 16384) >> 15, 0, 255));
}

// Index of input j for an n-sample line: mirrored around sample 0 at the start; after the end either
// repeated (x[n] = x[n-1]) or mirrored around the last sample (x[n] = x[n-2]). The final clamp only
// matters for lines shorter than the filter, which no codec frame has.
int32_t ExtendedIndex(int32_t j, int32_t n, bool repeatLast) {
    if (j < 0) j = -j;
    if (j >= n) j = (repeatLast ? 2 * n - 1 : 2 * n - 2) - j;
    return std::clamp(j, 0, n - 1);
}

}  // namespace

void DecimateColumns(const uint8_t* const* rows, uint32_t width, uint8_t* out) {
    for (uint32_t x = 0; x < width; ++x) {
        out[x] = Filter(rows[0][x], rows[1][x], rows[2][x], rows[3][x], rows[4][x], rows[5][x]);
    }
}

void DecimateVertically(const uint8_t* plane, ptrdiff_t stride, uint32_t width, uint32_t height,
                        uint32_t outputRow, uint8_t* out, dsp::DecimateColumnsFn decimateColumns) {
    const auto h = static_cast<int32_t>(height);
    const int32_t first = 2 * static_cast<int32_t>(outputRow) - 2;
    const uint8_t* rows[6];
    for (int32_t t = 0; t < 6; ++t) rows[t] = plane + ExtendedIndex(first + t, h, true) * stride;
    decimateColumns(rows, width, out);
}

void DecimatePairs(const uint8_t* in, uint32_t count, uint8_t* out) {
    for (uint32_t k = 0; k < count; ++k, in += 2) out[k] = Filter(in[0], in[1], in[2], in[3], in[4], in[5]);
}

void DecimateHorizontally(const uint8_t* row, uint32_t width, uint8_t* out,
                          dsp::DecimatePairsFn decimatePairs) {
    const auto w = static_cast<int32_t>(width);
    const int32_t outputs = w / 2;
    // Outputs 1 to outputs - 2 read inputs 0 to w - 1 only; the first and last reach beyond the ends.
    const int32_t inner = std::max(outputs - 2, 0);
    decimatePairs(row, static_cast<uint32_t>(inner), out + 1);
    auto at = [&](int32_t j) { return static_cast<int32_t>(row[ExtendedIndex(j, w, false)]); };
    for (int32_t k = 0; k < outputs; k = k == 0 ? inner + 1 : k + 1) {
        const int32_t j = 2 * k - 2;
        out[k] = Filter(at(j), at(j + 1), at(j + 2), at(j + 3), at(j + 4), at(j + 5));
    }
}

}  // namespace rq43
