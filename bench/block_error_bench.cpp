// The block decisions' error measures at each level, on blocks inside wider planes as the coder meets them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "dsp/cpu_level.h"
#include "residual/block_error.h"

namespace rq43 {
namespace {

constexpr int32_t kPitch = 640;

void PixelError(benchmark::State& state, const dsp::BlockErrorKernels& kernels) {
    std::mt19937 random(1);
    std::vector<uint8_t> pixels(64), source(8 * kPitch);
    for (uint8_t& v : pixels) v = static_cast<uint8_t>(random());
    for (uint8_t& v : source) v = static_cast<uint8_t>(random());
    for (auto _ : state) benchmark::DoNotOptimize(kernels.pixelError(pixels.data(), source.data(), kPitch));
}

void ResidualError(benchmark::State& state, const dsp::BlockErrorKernels& kernels) {
    std::mt19937 random(2);
    std::vector<int16_t> samples(64), residual(8 * kPitch);
    for (int16_t& v : samples) v = static_cast<int16_t>(random() % 512);
    for (int16_t& v : residual) v = static_cast<int16_t>(random() % 512);
    for (auto _ : state)
        benchmark::DoNotOptimize(kernels.residualError(samples.data(), residual.data(), kPitch));
}

[[maybe_unused]] const bool kRegistered = [] {
    for (dsp::CpuLevel level : {dsp::CpuLevel::C, dsp::CpuLevel::Sse2, dsp::CpuLevel::Avx2}) {
        if (level > dsp::DetectCpuLevel()) continue;
        const dsp::BlockErrorKernels& k = BlockErrorKernelsFor(level);
        const std::string at = std::string("/") + dsp::CpuLevelName(level);
        benchmark::RegisterBenchmark(("PixelError" + at).c_str(), PixelError, k);
        benchmark::RegisterBenchmark(("ResidualError" + at).c_str(), ResidualError, k);
    }
    return true;
}();

}  // namespace
}  // namespace rq43
