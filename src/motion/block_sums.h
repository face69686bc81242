// Pixel sums of a bordered luma plane at every position, for lower bounds of the 16x16 squared error. For
// blocks split into parts of n pixels, the squared error is at least the sum over the parts of
// (source part sum - reference part sum)^2 / n, so a candidate whose bound already reaches the best error
// cannot win and need not be measured.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rq43 {

struct BlockSums {
    int32_t stride = 0;            // entries per row, as the plane's pixels
    int32_t border = 0;            // position (0, 0) sits `border` rows and columns into the arrays
    std::vector<uint16_t> sums4;   // 4x4 sums, at every position whose block lies in the bordered plane
    std::vector<uint16_t> sums16;  // 16x16 sums, likewise

    size_t At(int32_t x, int32_t y) const {
        return static_cast<size_t>(static_cast<ptrdiff_t>(y + border) * stride + (x + border));
    }
};

// Fills `sums` for the plane whose pixel (0, 0) is at `origin`, `width` x `height` inside a border of
// `border` pixels on every side, rows `stride` apart. Keeps the arrays when the geometry is unchanged.
void ComputeBlockSums(const uint8_t* origin, int32_t stride, int32_t width, int32_t height, int32_t border,
                      BlockSums& sums);

// The sixteen 4x4 sums of a 16x16 source block, row by row, and their total.
struct SourceSums {
    uint16_t parts[16];
    uint32_t total;
};
SourceSums SumSourceBlock(const uint8_t* source, int32_t stride);

// Whether the 16x16 squared error of the source block against the reference block at (x, y) is certain
// to be at least `best`.
bool CannotBeat16(const BlockSums& sums, const SourceSums& source, int32_t x, int32_t y, uint32_t best);

}  // namespace rq43
