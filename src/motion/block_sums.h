// Pixel sums of a bordered luma plane at every position, for a lower bound of the 16x16 squared error and
// for the error itself. The squared error of a block is at least (source sum - reference sum)^2 / 256, so a
// candidate whose bound already reaches the best error cannot win and need not be measured. The error
// itself is the source's sum of squares plus the reference block's, less twice the sum of their products:
// only the products depend on both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsp/block_sums.h"
#include "dsp/cpu_level.h"
#include "platform/worker_pair.h"

namespace rq43 {

struct BlockSums {
    int32_t stride = 0;               // entries per row, as the plane's pixels
    int32_t border = 0;               // position (0, 0) sits `border` rows and columns into the arrays
    std::vector<uint16_t> sums16;     // 16x16 sums, at every position whose block lies in the bordered plane
    std::vector<uint32_t> squares16;  // 16x16 sums of squared pixels, likewise
    std::vector<uint16_t> pixels;     // the plane's pixels, widened for the products

    size_t At(int32_t x, int32_t y) const {
        return static_cast<size_t>(static_cast<ptrdiff_t>(y + border) * stride + (x + border));
    }
};

// Fills `sums` for the plane whose pixel (0, 0) is at `origin`, `height` rows inside a border of `border`
// pixels on every side, rows `stride` apart (the width and both side borders). Keeps the arrays when the
// geometry is unchanged. Entries of positions whose block leaves the bordered plane are unspecified. Bands
// of the plane go to the two workers when there are any.
void ComputeBlockSums(const uint8_t* origin, int32_t stride, int32_t height, int32_t border, BlockSums& sums,
                      dsp::CpuLevel level = dsp::ActiveCpuLevel(), platform::WorkerPair* workers = nullptr);

// Sizes `sums` for such a plane as ComputeBlockSums does, keeping the arrays when the geometry is unchanged.
void SizeBlockSums(int32_t stride, int32_t height, int32_t border, BlockSums& sums);

dsp::BlockSumsKernel BlockSumsKernelFor(dsp::CpuLevel level);
dsp::WithinReachKernel WithinReachKernelFor(dsp::CpuLevel level);

// The pixel sum of a 16x16 source block.
uint32_t SumSourceBlock(const uint8_t* source, int32_t stride);

}  // namespace rq43
