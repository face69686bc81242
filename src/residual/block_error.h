// The block decisions' error measures: the plain kernels and which table runs.
#pragma once

#include <cstdint>

#include "dsp/block_error.h"
#include "dsp/cpu_level.h"

namespace rq43 {

uint32_t PixelError(const uint8_t* pixels, const uint8_t* source, int32_t stride);
uint32_t ResidualError(const int16_t* samples, const int16_t* residual, int32_t pitch);

const dsp::BlockErrorKernels& BlockErrorKernelsFor(dsp::CpuLevel level);

// The table for dsp::ActiveCpuLevel().
const dsp::BlockErrorKernels& ActiveBlockErrorKernels();

}  // namespace rq43
