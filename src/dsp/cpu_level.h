// Which family of kernels runs: the plain C reference or a SIMD level the processor has.
#pragma once

#include <string_view>

#include "dsp/x86_kernels.h"

namespace rq43::dsp {

// Ordered: each level includes the ones before it. AvxVnni is AVX2 with the 16-bit multiply-accumulate
// instructions; the families that gain nothing from them keep their AVX2 entries there. Avx512 adds
// AVX-512 F, BW, VL, VNNI and VBMI to AvxVnni, on x86-64 only (32-bit stacks are not kept aligned for its
// registers).
enum class CpuLevel { C = 0, Sse2 = 1, Avx2 = 2, AvxVnni = 3, Avx512 = 4 };

// The best level this processor and build can run.
CpuLevel DetectCpuLevel();

// The level the kernel tables use: the detected one, lowered by RQ43_CPU=c|sse2|avx2|avxvnni|avx512 (read
// once, at first use; a level the processor lacks is never raised to).
CpuLevel ActiveCpuLevel();

const char* CpuLevelName(CpuLevel level);
// False, leaving `level` alone, for a name CpuLevelName does not give.
[[nodiscard]] bool ParseCpuLevel(std::string_view name, CpuLevel& level);

}  // namespace rq43::dsp
