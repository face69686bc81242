// Where the x86 kernels (src/dsp/x86) are compiled, so that the kernel tables may name them. Includes
// nothing: the AVX2 kernel files read it too.
#pragma once

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define RQ43_X86_KERNELS 1
#endif
