#include "motion/block_sums.h"

#include <cstdlib>

namespace rq43 {

namespace {

// Four-tap sums `step` apart along rows, then down columns, in place: entry (X, Y) becomes the sum of the
// 4x4 entries (X + step i, Y + step j). Entries whose taps leave the array are left as they were.
void SumFourByFour(uint16_t* values, int32_t stride, int32_t rows, int32_t step) {
    const int32_t across = stride - 3 * step;
    for (int32_t r = 0; r < rows; ++r) {
        uint16_t* row = values + static_cast<ptrdiff_t>(r) * stride;
        for (int32_t c = 0; c < across; ++c)
            row[c] = static_cast<uint16_t>(row[c] + row[c + step] + row[c + 2 * step] + row[c + 3 * step]);
    }
    const ptrdiff_t gap = static_cast<ptrdiff_t>(step) * stride;
    for (int32_t r = 0; r + 3 * step < rows; ++r) {
        uint16_t* row = values + static_cast<ptrdiff_t>(r) * stride;
        for (int32_t c = 0; c < across; ++c)
            row[c] = static_cast<uint16_t>(row[c] + row[c + gap] + row[c + 2 * gap] + row[c + 3 * gap]);
    }
}

}  // namespace

void ComputeBlockSums(const uint8_t* origin, int32_t stride, int32_t width, int32_t height, int32_t border,
                      BlockSums& sums) {
    const int32_t rows = height + 2 * border;
    const size_t entries = static_cast<size_t>(stride) * static_cast<size_t>(rows);
    sums.stride = stride;
    sums.border = border;
    sums.sums4.resize(entries);
    sums.sums16.resize(entries);
    (void)width;
    const uint8_t* first = origin - static_cast<ptrdiff_t>(border) * stride - border;
    for (size_t i = 0; i < entries; ++i) sums.sums4[i] = first[i];
    SumFourByFour(sums.sums4.data(), stride, rows, 1);
    sums.sums16 = sums.sums4;
    SumFourByFour(sums.sums16.data(), stride, rows, 4);
}

SourceSums SumSourceBlock(const uint8_t* source, int32_t stride) {
    SourceSums sums{};
    for (int r = 0; r < 16; ++r) {
        const uint8_t* row = source + static_cast<ptrdiff_t>(r) * stride;
        for (int c = 0; c < 16; ++c)
            sums.parts[(r / 4) * 4 + c / 4] = static_cast<uint16_t>(sums.parts[(r / 4) * 4 + c / 4] + row[c]);
    }
    for (uint16_t part : sums.parts) sums.total += part;
    return sums;
}

bool CannotBeat16(const BlockSums& sums, const SourceSums& source, int32_t x, int32_t y, uint32_t best) {
    const size_t at = sums.At(x, y);
    const int64_t whole = int64_t{source.total} - sums.sums16[at];
    if (static_cast<uint64_t>(whole * whole) >= uint64_t{256} * best) return true;
    uint64_t parts = 0;
    for (int j = 0; j < 4; ++j) {
        const uint16_t* row =
            sums.sums4.data() + at + static_cast<size_t>(4 * j) * static_cast<size_t>(sums.stride);
        for (int i = 0; i < 4; ++i) {
            const int32_t d = int32_t{source.parts[4 * j + i]} - row[4 * i];
            parts += static_cast<uint64_t>(int64_t{d} * d);
        }
    }
    return parts >= uint64_t{16} * best;
}

}  // namespace rq43
