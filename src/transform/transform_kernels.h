// Which transform kernels run: the plain ones of this folder or their vector versions, chosen by
// processor level. Callers fetch the table once per stage and call through it.
#pragma once

#include "dsp/cpu_level.h"
#include "dsp/transform.h"

namespace rq43 {

const dsp::TransformKernels& TransformKernelsFor(dsp::CpuLevel level);

// The table for dsp::ActiveCpuLevel().
const dsp::TransformKernels& ActiveTransformKernels();

}  // namespace rq43
