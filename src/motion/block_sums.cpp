#include "motion/block_sums.h"

#include <algorithm>

namespace rq43 {

namespace {

// The plain kernel: running sums along rows, then down columns.
void SumBlocks16(const uint8_t* pixels, int32_t stride, int32_t rows, uint16_t* sums, uint32_t* squares) {
    const int32_t across = stride - 15;
    for (int32_t r = 0; r < rows; ++r) {
        const uint8_t* row = pixels + static_cast<ptrdiff_t>(r) * stride;
        uint16_t* sumsTo = sums + static_cast<ptrdiff_t>(r) * stride;
        uint32_t* squaresTo = squares + static_cast<ptrdiff_t>(r) * stride;
        uint32_t sum = 0, square = 0;
        for (int32_t c = 0; c < 16; ++c) {
            sum += row[c];
            square += uint32_t{row[c]} * row[c];
        }
        sumsTo[0] = static_cast<uint16_t>(sum);
        squaresTo[0] = square;
        for (int32_t c = 1; c < across; ++c) {
            sum += uint32_t{row[c + 15]} - row[c - 1];
            square += uint32_t{row[c + 15]} * row[c + 15] - uint32_t{row[c - 1]} * row[c - 1];
            sumsTo[c] = static_cast<uint16_t>(sum);
            squaresTo[c] = square;
        }
    }
    // Down the columns a row at a time, so the passes run along memory; the sums stay below 2^16 and 2^24,
    // and the wrapping differences of running totals are exact.
    std::vector<uint16_t> columnSums(sums, sums + across);
    std::vector<uint32_t> columnSquares(squares, squares + across);
    for (int32_t r = 1; r < 16; ++r) {
        const ptrdiff_t at = static_cast<ptrdiff_t>(r) * stride;
        for (int32_t c = 0; c < across; ++c) {
            columnSums[static_cast<size_t>(c)] =
                static_cast<uint16_t>(columnSums[static_cast<size_t>(c)] + sums[at + c]);
            columnSquares[static_cast<size_t>(c)] += squares[at + c];
        }
    }
    for (int32_t r = 0; r + 15 < rows; ++r) {
        uint16_t* sumsRow = sums + static_cast<ptrdiff_t>(r) * stride;
        uint32_t* squaresRow = squares + static_cast<ptrdiff_t>(r) * stride;
        if (r + 16 == rows) {
            std::copy(columnSums.begin(), columnSums.end(), sumsRow);
            std::copy(columnSquares.begin(), columnSquares.end(), squaresRow);
            break;
        }
        const ptrdiff_t entering = 16 * static_cast<ptrdiff_t>(stride);
        for (int32_t c = 0; c < across; ++c) {
            const uint16_t leavingSum = sumsRow[c];
            const uint32_t leavingSquares = squaresRow[c];
            sumsRow[c] = columnSums[static_cast<size_t>(c)];
            squaresRow[c] = columnSquares[static_cast<size_t>(c)];
            columnSums[static_cast<size_t>(c)] = static_cast<uint16_t>(columnSums[static_cast<size_t>(c)] +
                                                                       sumsRow[entering + c] - leavingSum);
            columnSquares[static_cast<size_t>(c)] += squaresRow[entering + c] - leavingSquares;
        }
    }
}

// The plain kernel: every offset written, kept only within reach; a skip would be a branch mispredicted
// often.
int32_t KeepWithinReach(const uint16_t* sums, const dsp::OffsetRun* runs, int32_t runCount, uint32_t lowest,
                        uint32_t span, int32_t* kept) {
    int32_t count = 0;
    for (const dsp::OffsetRun* run = runs; run != runs + runCount; ++run) {
        for (int32_t k = 0, offset = run->from; k < run->n; ++k, offset += run->step) {
            kept[count] = offset;
            count += sums[offset] - lowest < span ? 1 : 0;
        }
    }
    return count;
}

}  // namespace

dsp::WithinReachKernel WithinReachKernelFor(dsp::CpuLevel level) {
#ifdef RQ43_X86_KERNELS
    if (level >= dsp::CpuLevel::Avx2) return dsp::KeepWithinReachAvx2;
#endif
    static_cast<void>(level);
    return KeepWithinReach;
}

dsp::BlockSumsKernel BlockSumsKernelFor(dsp::CpuLevel level) {
#ifdef RQ43_X86_KERNELS
    if (level >= dsp::CpuLevel::Sse2) return dsp::SumBlocks16Sse2;
#endif
    static_cast<void>(level);
    return SumBlocks16;
}

void ComputeBlockSums(const uint8_t* origin, int32_t stride, int32_t height, int32_t border, BlockSums& sums,
                      dsp::CpuLevel level) {
    const int32_t rows = height + 2 * border;
    const size_t entries = static_cast<size_t>(stride) * static_cast<size_t>(rows);
    sums.stride = stride;
    sums.border = border;
    sums.sums16.resize(entries);
    sums.squares16.resize(entries);
    const uint8_t* first = origin - static_cast<ptrdiff_t>(border) * stride - border;
    sums.pixels.assign(first, first + entries);
    BlockSumsKernelFor(level)(first, stride, rows, sums.sums16.data(), sums.squares16.data());
}

uint32_t SumSourceBlock(const uint8_t* source, int32_t stride) {
    uint32_t sum = 0;
    for (int r = 0; r < 16; ++r) {
        const uint8_t* row = source + static_cast<ptrdiff_t>(r) * stride;
        for (int c = 0; c < 16; ++c) sum += row[c];
    }
    return sum;
}

}  // namespace rq43
