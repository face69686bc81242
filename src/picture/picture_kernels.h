// The row kernels the picture conversions run: the plain C ones, or SIMD ones giving identical bytes.
#pragma once

#include "dsp/cpu_level.h"
#include "dsp/picture_conversion.h"

namespace rq43 {

// The kernels of `level`, which must be a level this processor runs (C entries where a level has no
// faster one).
const dsp::PictureKernels& PictureKernelsFor(dsp::CpuLevel level);

// The kernels of the process's active level; fetch once per picture.
const dsp::PictureKernels& ActivePictureKernels();

}  // namespace rq43
