#include "motion/block_sums.h"

#include <algorithm>

#include "platform/worker_split.h"

namespace rq43 {

namespace {

// The plain kernel: running column sums down the plane, then a running sum along each row of them. Writes
// only the rows it fills, so bands of one plane may be summed at the same time.
void SumBlocks16(const uint8_t* pixels, int32_t stride, int32_t rows, uint16_t* sums, uint32_t* squares) {
    if (rows < 16 || stride < 16) return;
    const auto width = static_cast<size_t>(stride);
    std::vector<uint32_t> columnSums(width, 0), columnSquares(width, 0);
    for (int32_t r = 0; r < 16; ++r) {
        const uint8_t* row = pixels + static_cast<ptrdiff_t>(r) * stride;
        for (size_t c = 0; c < width; ++c) {
            columnSums[c] += row[c];
            columnSquares[c] += uint32_t{row[c]} * row[c];
        }
    }
    for (int32_t r = 0;; ++r) {
        uint16_t* sumsTo = sums + static_cast<ptrdiff_t>(r) * stride;
        uint32_t* squaresTo = squares + static_cast<ptrdiff_t>(r) * stride;
        uint32_t sum = 0, square = 0;
        for (size_t c = 0; c < 16; ++c) {
            sum += columnSums[c];
            square += columnSquares[c];
        }
        sumsTo[0] = static_cast<uint16_t>(sum);
        squaresTo[0] = square;
        for (size_t c = 16; c < width; ++c) {
            sum += columnSums[c] - columnSums[c - 16];
            square += columnSquares[c] - columnSquares[c - 16];
            sumsTo[c - 15] = static_cast<uint16_t>(sum);
            squaresTo[c - 15] = square;
        }
        if (r + 16 == rows) break;
        const uint8_t* leaving = pixels + static_cast<ptrdiff_t>(r) * stride;
        const uint8_t* entering = leaving + 16 * static_cast<ptrdiff_t>(stride);
        for (size_t c = 0; c < width; ++c) {
            columnSums[c] += uint32_t{entering[c]} - leaving[c];
            columnSquares[c] += uint32_t{entering[c]} * entering[c] - uint32_t{leaving[c]} * leaving[c];
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

void SizeBlockSums(int32_t stride, int32_t height, int32_t border, BlockSums& sums) {
    const size_t entries = static_cast<size_t>(stride) * static_cast<size_t>(height + 2 * border);
    sums.stride = stride;
    sums.border = border;
    sums.sums16.resize(entries);
    sums.squares16.resize(entries);
    sums.pixels.resize(entries);
}

void ComputeBlockSums(const uint8_t* origin, int32_t stride, int32_t height, int32_t border, BlockSums& sums,
                      dsp::CpuLevel level, platform::WorkerPair* workers) {
    const int32_t rows = height + 2 * border;
    SizeBlockSums(stride, height, border, sums);
    const uint8_t* first = origin - static_cast<ptrdiff_t>(border) * stride - border;
    const dsp::BlockSumsKernel kernel = BlockSumsKernelFor(level);
    // Bands of rows of blocks, each starting its column sums afresh: two workers take one each, as the
    // search then splits the frame, so each reads back from its own cache the sums it took.
    const int32_t blockRows = std::max(rows - 15, 0);
    const int32_t bands = workers == nullptr ? 1 : std::min(blockRows, 2);
    platform::RunBands(workers, static_cast<uint32_t>(bands), [&](uint32_t band, int) {
        const int32_t from = blockRows * static_cast<int32_t>(band) / bands;
        const int32_t to = blockRows * static_cast<int32_t>(band + 1) / bands;
        const ptrdiff_t at = static_cast<ptrdiff_t>(from) * stride;
        // The last band widens the rows below its blocks too.
        const ptrdiff_t end =
            static_cast<ptrdiff_t>(band + 1 == static_cast<uint32_t>(bands) ? rows : to) * stride;
        std::copy(first + at, first + end, sums.pixels.begin() + at);
        if (to > from)
            kernel(first + at, stride, to - from + 15, sums.sums16.data() + at, sums.squares16.data() + at);
    });
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
