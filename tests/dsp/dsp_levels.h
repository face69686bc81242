// The SIMD levels this processor runs, each to be checked against the plain C kernels.
#pragma once

#include <vector>

#include "dsp/cpu_level.h"

namespace rq43::test {

inline std::vector<dsp::CpuLevel> SimdLevelsToCheck() {
    std::vector<dsp::CpuLevel> levels;
    for (dsp::CpuLevel level :
         {dsp::CpuLevel::Sse2, dsp::CpuLevel::Avx2, dsp::CpuLevel::AvxVnni, dsp::CpuLevel::Avx512}) {
        if (level <= dsp::DetectCpuLevel()) levels.push_back(level);
    }
    return levels;
}

}  // namespace rq43::test
