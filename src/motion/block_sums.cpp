#include "motion/block_sums.h"

#include <cstdlib>

#include "motion/block_ssd.h"

namespace rq43 {

namespace {

// Four-tap sums along rows, then down columns, in place: entry (X, Y) becomes the sum of the 4x4 entries
// from (X, Y). Entries whose taps leave the array are left as they were.
void SumFourByFour(uint16_t* values, int32_t stride, int32_t rows) {
    const int32_t across = stride - 3;
    for (int32_t r = 0; r < rows; ++r) {
        uint16_t* row = values + static_cast<ptrdiff_t>(r) * stride;
        for (int32_t c = 0; c < across; ++c)
            row[c] = static_cast<uint16_t>(row[c] + row[c + 1] + row[c + 2] + row[c + 3]);
    }
    const ptrdiff_t gap = stride;
    for (int32_t r = 0; r + 3 < rows; ++r) {
        uint16_t* row = values + static_cast<ptrdiff_t>(r) * stride;
        for (int32_t c = 0; c < across; ++c)
            row[c] = static_cast<uint16_t>(row[c] + row[c + gap] + row[c + 2 * gap] + row[c + 3 * gap]);
    }
}

// Entry (X, Y) becomes the sum of the squares of the 16x16 pixels from (X, Y), for every block that fits;
// running sums along rows, then down columns. The sums stay below 2^24.
void SumSquaresSixteen(const uint8_t* pixels, int32_t stride, int32_t rows, uint32_t* squares) {
    const int32_t across = stride - 15;
    for (int32_t r = 0; r < rows; ++r) {
        const uint8_t* row = pixels + static_cast<ptrdiff_t>(r) * stride;
        uint32_t* to = squares + static_cast<ptrdiff_t>(r) * stride;
        uint32_t sum = 0;
        for (int32_t c = 0; c < 16; ++c) sum += uint32_t{row[c]} * row[c];
        to[0] = sum;
        for (int32_t c = 1; c < across; ++c) {
            sum += uint32_t{row[c + 15]} * row[c + 15];
            sum -= uint32_t{row[c - 1]} * row[c - 1];
            to[c] = sum;
        }
    }
    // Down the columns a row at a time, so the passes run along memory.
    std::vector<uint32_t> column(squares, squares + across);
    for (int32_t r = 1; r < 16; ++r) {
        const uint32_t* row = squares + static_cast<ptrdiff_t>(r) * stride;
        for (int32_t c = 0; c < across; ++c) column[static_cast<size_t>(c)] += row[c];
    }
    for (int32_t r = 0; r + 15 < rows; ++r) {
        uint32_t* row = squares + static_cast<ptrdiff_t>(r) * stride;
        const uint32_t* entering = row + 16 * static_cast<ptrdiff_t>(stride);
        const bool last = r + 16 == rows;
        for (int32_t c = 0; c < across; ++c) {
            const uint32_t leaving = row[c];
            row[c] = column[static_cast<size_t>(c)];
            if (!last) column[static_cast<size_t>(c)] += entering[c] - leaving;
        }
    }
}

}  // namespace

void ComputeBlockSums(const uint8_t* origin, int32_t stride, int32_t height, int32_t border,
                      BlockSums& sums) {
    const int32_t rows = height + 2 * border;
    const size_t entries = static_cast<size_t>(stride) * static_cast<size_t>(rows);
    sums.stride = stride;
    sums.border = border;
    sums.sums4.resize(entries);
    const uint8_t* first = origin - static_cast<ptrdiff_t>(border) * stride - border;
    for (size_t i = 0; i < entries; ++i) sums.sums4[i] = first[i];
    SumFourByFour(sums.sums4.data(), stride, rows);
    sums.squares16.resize(entries);
    SumSquaresSixteen(first, stride, rows, sums.squares16.data());
}

SourceSums SumSourceBlock(const uint8_t* source, int32_t stride) {
    SourceSums sums{};
    for (int r = 0; r < 16; ++r) {
        const uint8_t* row = source + static_cast<ptrdiff_t>(r) * stride;
        for (int c = 0; c < 16; ++c) {
            uint16_t& part = sums.parts[(r / 4) * 4 + c / 4];
            part = static_cast<uint16_t>(part + row[c]);
            sums.squares += uint32_t{row[c]} * row[c];
        }
    }
    return sums;
}

void WindowBoundRows(const uint16_t* sums, int32_t sumsStride, const uint16_t wanted[16], int32_t rows,
                     int32_t pitch, uint32_t* bounds) {
    for (int32_t y = 0; y < rows; ++y, sums += sumsStride, bounds += pitch) {
        for (int32_t x = 0; x < pitch; ++x) {
            uint32_t bound = 0;
            for (int part = 0; part < 16; ++part) {
                const int32_t d =
                    int32_t{wanted[part]} - sums[(part / 4) * 4 * sumsStride + (part % 4) * 4 + x];
                bound += static_cast<uint32_t>(d * d);
            }
            bounds[x] = bound;
        }
    }
}

void WindowBounds(const BlockSums& sums, const SourceSums& source, int32_t xlo, int32_t xhi, int32_t ylo,
                  int32_t yhi, uint32_t* bounds) {
    // The reads past the window, up to the pitch, stay inside the array: its last rows lie below any
    // window's lowest part. Their bounds are not used.
    ActiveSsdKernels().windowBounds(sums.sums4.data() + sums.At(xlo, ylo), sums.stride, source.parts,
                                    yhi - ylo + 1, WindowBoundsPitch(xlo, xhi), bounds);
}

}  // namespace rq43
