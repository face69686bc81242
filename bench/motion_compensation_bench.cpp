// The compensation copies and means at each level, over a row of blocks of a 352-pixel-wide plane.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "dsp/cpu_level.h"
#include "motion/motion_compensation.h"

namespace rq43 {
namespace {

constexpr int32_t kStride = 384;

// range(0): level (0 plain C, 1 SSE2, 2 AVX2); range(1): block size; range(2): 0 copy, 1 mean.
void BM_TwoSample(benchmark::State& state) {
    auto level = static_cast<dsp::CpuLevel>(state.range(0));
    if (level > dsp::DetectCpuLevel()) {
        state.SkipWithError("level not available on this processor");
        return;
    }
    state.SetLabel(dsp::CpuLevelName(level));
    const dsp::CompensationKernels& kernels = CompensationKernelsFor(level);
    const auto size = static_cast<int32_t>(state.range(1));
    dsp::TwoSampleFunction predict = size == 16 ? kernels.twoSample16 : kernels.twoSample8;
    std::vector<uint8_t> plane(static_cast<size_t>(kStride) * 40);
    for (size_t i = 0; i < plane.size(); ++i) plane[i] = static_cast<uint8_t>(i * 7 + i / kStride);
    std::vector<uint8_t> out(static_cast<size_t>(size) * static_cast<size_t>(size));
    const int32_t second = state.range(2) != 0 ? kStride + 1 : 0;
    for (auto _ : state) {
        for (int32_t x = 0; x + size + 1 < kStride; x += size) {
            predict(plane.data() + x, plane.data() + x + second, kStride, out.data(), size);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * ((kStride - 1) / size));
}
BENCHMARK(BM_TwoSample)->ArgNames({"level", "size", "mean"})->ArgsProduct({{0, 1, 2}, {16, 8}, {0, 1}});

}  // namespace
}  // namespace rq43
