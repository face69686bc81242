// The measure of cross-block level prediction as a kernel: eight predicted positions at once, gathered
// as eight lanes per block (blocks in raster order, `across` by `down`). Per mode (none, median, left,
// up) and lane: the sum of |level - prediction| in 32-bit arithmetic, and whether the prediction
// difference, wrapped to 16 bits, leaves +-limit anywhere. The first block predicts nothing and is not
// range-checked; the rest of the first row predicts from the left and the rest of the first column from
// above, in all three predicting modes.
#pragma once

#include <cstdint>

#include "dsp/x86_kernels.h"

namespace rq43::dsp {

inline constexpr int kPredictionLanes = 8;

struct ModeMeasures {
    uint64_t cost[4][kPredictionLanes];
    uint8_t outOfRange[4];  // bit k: lane k
};

using MeasureModesKernel = void (*)(const int16_t* lanes, int32_t across, int32_t down, int16_t limit,
                                    ModeMeasures* out);

#ifdef RQ43_X86_KERNELS
void MeasureModesSse2(const int16_t* lanes, int32_t across, int32_t down, int16_t limit, ModeMeasures* out);
#endif

}  // namespace rq43::dsp
