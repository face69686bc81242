// Pixel sums of a bordered luma plane at every position, for lower bounds of the 16x16 squared error and
// for the error itself. For blocks split into parts of n pixels, the squared error is at least the sum over
// the parts of (source part sum - reference part sum)^2 / n, so a candidate whose bound already reaches the
// best error cannot win and need not be measured. The error itself is the source's sum of squares plus the
// reference block's, less twice the sum of their products: only the products depend on both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rq43 {

struct BlockSums {
    int32_t stride = 0;               // entries per row, as the plane's pixels
    int32_t border = 0;               // position (0, 0) sits `border` rows and columns into the arrays
    std::vector<uint16_t> sums4;      // 4x4 sums, at every position whose block lies in the bordered plane
    std::vector<uint32_t> squares16;  // 16x16 sums of squared pixels, likewise

    size_t At(int32_t x, int32_t y) const {
        return static_cast<size_t>(static_cast<ptrdiff_t>(y + border) * stride + (x + border));
    }
};

// Fills `sums` for the plane whose pixel (0, 0) is at `origin`, `height` rows inside a border of `border`
// pixels on every side, rows `stride` apart (the width and both side borders). Keeps the array when the
// geometry is unchanged.
void ComputeBlockSums(const uint8_t* origin, int32_t stride, int32_t height, int32_t border, BlockSums& sums);

// The sixteen 4x4 sums of a 16x16 source block, row by row, and the sum of its squared pixels.
struct SourceSums {
    uint16_t parts[16];
    uint32_t squares;
};
SourceSums SumSourceBlock(const uint8_t* source, int32_t stride);

// For every position (x, y) of the inclusive window, 16 times a lower bound of the 16x16 squared error of
// the source block against the reference block there: the sum over the sixteen 4x4 parts of (source part
// sum - reference part sum)^2, which is at most 16 times the squared error. Row after row into `bounds`,
// WindowBoundsPitch entries apart. A candidate whose entry is at least 16 x best cannot be below the best.
// The window lies where a 16x16 block fits in the bordered plane; it is at most 65 positions wide.
inline int32_t WindowBoundsPitch(int32_t xlo, int32_t xhi) {
    return (xhi - xlo + 16) / 16 * 16;  // whole groups of sixteen
}
inline constexpr int32_t kWindowBoundsMaxPitch = 80;
void WindowBounds(const BlockSums& sums, const SourceSums& source, int32_t xlo, int32_t xhi, int32_t ylo,
                  int32_t yhi, uint32_t* bounds);

// The plain kernel behind WindowBounds (dsp::WindowBoundsFunction): the reference of the SIMD ones.
void WindowBoundRows(const uint16_t* sums, int32_t sumsStride, const uint16_t wanted[16], int32_t rows,
                     int32_t pitch, uint32_t* bounds);

}  // namespace rq43
