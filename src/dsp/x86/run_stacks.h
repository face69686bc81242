// Stacks of runs for the byte-product kernels of the full search, whose register widths differ: which
// source row meets which reference row, and a stack's height as a constant. Internal linkage only
// (unnamed namespace), as ssd_rows.h.
#pragma once

#include <cstdint>
#include <type_traits>

#include "dsp/ssd.h"

namespace rq43::dsp::x86 {
namespace {

// Reference row r of a stack meets source row r - j in run j, for the runs that have such a row.
template <int Height, typename Multiply>
inline __attribute__((always_inline)) void ForEachRunOfRow(int r, const Multiply& multiply) {
#pragma GCC unroll 4
    for (int j = 0; j < Height; ++j) {
        const int sourceRow = r - j;
        if (sourceRow >= 0 && sourceRow <= 15) multiply(j, sourceRow);
    }
}

// `measure(height)` with the stack's height (1 to kRunStack) as a std::integral_constant, so that each
// height has its rows unrolled.
template <typename Measure>
inline __attribute__((always_inline)) void WithStackHeight(int32_t height, const Measure& measure) {
    static_assert(kRunStack == 4);
    switch (height) {
        case 1:
            measure(std::integral_constant<int, 1>{});
            break;
        case 2:
            measure(std::integral_constant<int, 2>{});
            break;
        case 3:
            measure(std::integral_constant<int, 3>{});
            break;
        default:
            measure(std::integral_constant<int, 4>{});
            break;
    }
}

}  // namespace
}  // namespace rq43::dsp::x86
