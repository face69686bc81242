#include "dsp/cpu_level.h"

#include <algorithm>
#include <cstdlib>

#ifdef RQ43_X86_KERNELS
#include <cpuid.h>
#endif

namespace rq43::dsp {

CpuLevel DetectCpuLevel() {
#ifdef RQ43_X86_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
        // Leaf 7, subleaf 1, EAX bit 4 (not every compiler's feature list names it yet); it uses the
        // AVX registers whose support the AVX2 test has already established.
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (__get_cpuid_count(7, 1, &a, &b, &c, &d) == 0 || (a & (1u << 4)) == 0) return CpuLevel::Avx2;
#if defined(__x86_64__)
        // Levels include the ones before: some processors have these without AVX-VNNI, and stay below.
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vnni") &&
            __builtin_cpu_supports("avx512vbmi")) {
            return CpuLevel::Avx512;
        }
#endif
        return CpuLevel::AvxVnni;
    }
    if (__builtin_cpu_supports("sse2")) return CpuLevel::Sse2;
#endif
    return CpuLevel::C;
}

CpuLevel ActiveCpuLevel() {
    static const CpuLevel level = [] {
        const CpuLevel detected = DetectCpuLevel();
        const char* forced = std::getenv("RQ43_CPU");
        if (forced == nullptr) return detected;
        CpuLevel wanted = detected;
        return ParseCpuLevel(forced, wanted) ? std::min(wanted, detected) : detected;
    }();
    return level;
}

const char* CpuLevelName(CpuLevel level) {
    switch (level) {
        case CpuLevel::Avx512:
            return "avx512";
        case CpuLevel::AvxVnni:
            return "avxvnni";
        case CpuLevel::Avx2:
            return "avx2";
        case CpuLevel::Sse2:
            return "sse2";
        case CpuLevel::C:
            break;
    }
    return "c";
}

bool ParseCpuLevel(std::string_view name, CpuLevel& level) {
    for (CpuLevel candidate :
         {CpuLevel::C, CpuLevel::Sse2, CpuLevel::Avx2, CpuLevel::AvxVnni, CpuLevel::Avx512}) {
        if (name == CpuLevelName(candidate)) {
            level = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace rq43::dsp
