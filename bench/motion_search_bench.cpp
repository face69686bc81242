// Motion search on a 352 x 288 picture panned by (5, -3) pixels with a little noise (at the level in use,
// RQ43_CPU to force one), and the SSD measures that form its inner loop at each level.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/cpu_level.h"
#include "motion/block_ssd.h"
#include "motion/block_sums.h"
#include "motion/motion_estimation.h"
#include "motion/motion_field.h"
#include "picture/difference_frame.h"
#include "picture/yuv_frame.h"
#include "platform/worker_pair.h"

namespace rq43 {
namespace {

constexpr uint32_t kWidth = 352;
constexpr uint32_t kHeight = 288;

uint8_t Scene(int32_t x, int32_t y) {
    uint32_t h = static_cast<uint32_t>(x) * 0x9E3779B1u + static_cast<uint32_t>(y) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return static_cast<uint8_t>(((x * 5 + y * 2) & 0x7F) + (h & 0x3F));
}

void Fill(YuvFrame& frame, int32_t panX, int32_t panY, uint32_t seed) {
    std::mt19937 noise(seed);
    AllocateFrame(frame, kWidth, kHeight, 16);
    auto plane = [&](uint8_t* origin, uint32_t width, uint32_t height, int32_t scale) {
        for (uint32_t r = 0; r < height; ++r) {
            for (uint32_t c = 0; c < width; ++c) {
                int32_t value =
                    Scene(static_cast<int32_t>(c) + panX / scale, static_cast<int32_t>(r) + panY / scale) +
                    static_cast<int32_t>(noise() % 5) - 2;
                origin[static_cast<std::ptrdiff_t>(r) * frame.stride + c] =
                    static_cast<uint8_t>(std::clamp(value, 0, 255));
            }
        }
    };
    plane(frame.y, kWidth, kHeight, 1);
    plane(frame.u, kWidth / 2, kHeight / 2, 2);
    plane(frame.v, kWidth / 2, kHeight / 2, 2);
    ExtendBorders(frame);
}

struct PannedPair {
    YuvFrame reference;
    YuvFrame source;
    DifferenceFrame difference;

    PannedPair() {
        Fill(reference, 0, 0, 1);
        Fill(source, 5, -3, 2);
        AllocateDifferenceFrame(difference, kWidth, kHeight);
    }
};

// range(0): fast search; range(1): sub-block search; range(2): two workers.
void BM_EstimateMotion(benchmark::State& state) {
    PannedPair pair;
    MotionField field;
    AllocateMotionField(field, kWidth, kHeight, 16);
    field.fastSearch = static_cast<uint8_t>(state.range(0));
    field.subBlockSearch = static_cast<uint8_t>(state.range(1));
    platform::WorkerPair workers;
    field.workers = state.range(2) != 0 ? &workers : nullptr;
    for (auto _ : state) {
        ClearMotionVectors(field);
        bool done = EstimateMotion(pair.source, field, pair.reference, pair.difference);
        benchmark::DoNotOptimize(done);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * field.MacroblockCount());
}
BENCHMARK(BM_EstimateMotion)
    ->ArgNames({"fast", "sub", "threads"})
    ->Args({0, 0, 0})
    ->Args({1, 0, 0})
    ->Args({0, 1, 0})
    ->Args({1, 1, 0})
    ->Args({1, 1, 1})
    ->Unit(benchmark::kMillisecond);

// The measures at every position of a 33 x 33 neighbourhood, no early stop (the worst case).
template <typename Measure>
void MeasureAround(benchmark::State& state, const Measure& measure) {
    PannedPair pair;
    int32_t stride = pair.source.stride;
    const uint8_t* source = pair.source.y + 128 * stride + 160;
    const uint8_t* reference = pair.reference.y + 128 * stride + 160;
    for (auto _ : state) {
        uint32_t sum = 0;
        for (int32_t dy = -16; dy <= 16; ++dy) {
            for (int32_t dx = -16; dx <= 16; ++dx)
                sum += measure(source, stride, reference + dy * stride + dx);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 33 * 33);
}

// range(0): the level whose kernel runs (0 plain C, 1 SSE2, 2 AVX2, 3 AVX-VNNI, 4 AVX-512).
const dsp::SsdKernels* KernelsOrSkip(benchmark::State& state) {
    auto level = static_cast<dsp::CpuLevel>(state.range(0));
    if (level > dsp::DetectCpuLevel()) {
        state.SkipWithError("level not available on this processor");
        return nullptr;
    }
    state.SetLabel(dsp::CpuLevelName(level));
    return &SsdKernelsFor(level);
}

void BM_M16(benchmark::State& state) {
    if (const dsp::SsdKernels* k = KernelsOrSkip(state)) {
        MeasureAround(state, [k](const uint8_t* s, int32_t stride, const uint8_t* r) {
            return k->m16(s, stride, r, stride, UINT32_MAX);
        });
    }
}
void BM_M16h(benchmark::State& state) {
    if (const dsp::SsdKernels* k = KernelsOrSkip(state)) {
        MeasureAround(state, [k](const uint8_t* s, int32_t stride, const uint8_t* r) {
            return k->m16h(s, stride, r, r + stride + 1, stride, UINT32_MAX);
        });
    }
}
void BM_M8(benchmark::State& state) {
    if (const dsp::SsdKernels* k = KernelsOrSkip(state)) {
        MeasureAround(state, [k](const uint8_t* s, int32_t stride, const uint8_t* r) {
            return k->m8(s, stride, r, stride, UINT32_MAX);
        });
    }
}
void BM_M8h(benchmark::State& state) {
    if (const dsp::SsdKernels* k = KernelsOrSkip(state)) {
        MeasureAround(state, [k](const uint8_t* s, int32_t stride, const uint8_t* r) {
            return k->m8h(s, stride, r, r + 1, stride, UINT32_MAX);
        });
    }
}
BENCHMARK(BM_M16)->ArgName("level")->DenseRange(0, 2)->Arg(4);
BENCHMARK(BM_M16h)->ArgName("level")->DenseRange(0, 2)->Arg(4);
BENCHMARK(BM_M8)->ArgName("level")->DenseRange(0, 2);
BENCHMARK(BM_M8h)->ArgName("level")->DenseRange(0, 2);

// The ring search's pattern: every measurement stopped by the best sum so far (the common case).
void BM_M16StoppedEarly(benchmark::State& state) {
    if (const dsp::SsdKernels* k = KernelsOrSkip(state)) {
        MeasureAround(state, [k](const uint8_t* s, int32_t stride, const uint8_t* r) {
            return k->m16(s, stride, r, stride, 20000);
        });
    }
}
BENCHMARK(BM_M16StoppedEarly)->ArgName("level")->DenseRange(0, 2)->Arg(4);

// The fast search's refinement: half-pel means, mostly stopped within a few rows.
void BM_M16hStoppedEarly(benchmark::State& state) {
    if (const dsp::SsdKernels* k = KernelsOrSkip(state)) {
        MeasureAround(state, [k](const uint8_t* s, int32_t stride, const uint8_t* r) {
            return k->m16h(s, stride, r, r + 1, stride, 20000);
        });
    }
}
BENCHMARK(BM_M16hStoppedEarly)->ArgName("level")->DenseRange(0, 2)->Arg(4);

// The full search's kernel: the whole errors of a 33 x 33 neighbourhood in one call, as a ring's survivors.
void BM_SquaredErrors16(benchmark::State& state) {
    if (const dsp::SsdKernels* k = KernelsOrSkip(state)) {
        PannedPair pair;
        const int32_t stride = pair.source.stride;
        BlockSums sums;
        ComputeBlockSums(pair.reference.y, stride, kHeight, 16, sums);
        std::vector<int32_t> offsets;
        for (int32_t dy = -16; dy <= 16; ++dy) {
            for (int32_t dx = -16; dx <= 16; ++dx) offsets.push_back((128 + dy) * stride + 160 + dx);
        }
        std::vector<uint32_t> errors(offsets.size());
        for (auto _ : state) {
            k->squaredErrors16(pair.source.y + 128 * stride + 160, stride, sums.pixels.data() + sums.At(0, 0),
                               sums.squares16.data() + sums.At(0, 0), stride, offsets.data(),
                               static_cast<int32_t>(offsets.size()), errors.data());
            benchmark::DoNotOptimize(errors.data());
        }
        state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 33 * 33);
    }
}
BENCHMARK(BM_SquaredErrors16)->ArgName("level")->DenseRange(0, 4);

// The same neighbourhood's errors as stacks of runs (33 rows of three runs, 48 positions wide), the plain C
// (level 0) against the levels that have a runs kernel; to compare with BM_SquaredErrors16 per position.
void BM_SquaredErrorRuns16(benchmark::State& state) {
    if (const dsp::SsdKernels* k = KernelsOrSkip(state)) {
        const bool plain = state.range(0) == 0;
        const dsp::SquaredErrorRunsFunction runs = plain ? SquaredErrorRuns16 : k->squaredErrorRuns16;
        if (runs == nullptr) {
            state.SkipWithError("no runs kernel at this level");
            return;
        }
        PannedPair pair;
        const int32_t stride = pair.source.stride;
        BlockSums sums;
        ComputeBlockSums(pair.reference.y, stride, kHeight, 16, sums);
        std::vector<int32_t> offsets, heights;
        for (int32_t top = -16; top <= 16; top += dsp::kRunStack) {
            for (int32_t left = -16; left < 32; left += 16) {
                offsets.push_back((128 + top) * stride + 160 + left);
                heights.push_back(std::min(dsp::kRunStack, 17 - top));
            }
        }
        std::vector<uint32_t> errors(offsets.size() * dsp::kRunStack * 16),
            least(offsets.size() * dsp::kRunStack);
        for (auto _ : state) {
            runs(pair.source.y + 128 * stride + 160, stride, pair.reference.y,
                 sums.sums16.data() + sums.At(0, 0), sums.squares16.data() + sums.At(0, 0), stride,
                 offsets.data(), heights.data(), static_cast<int32_t>(offsets.size()), errors.data(),
                 least.data());
            benchmark::DoNotOptimize(errors.data());
        }
        state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 33 * 48);
    }
}
BENCHMARK(BM_SquaredErrorRuns16)->ArgName("level")->Arg(0)->DenseRange(2, 4);

}  // namespace
}  // namespace rq43
