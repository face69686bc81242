// Throughput of the colour converters and the prefilter on a 640 x 480 picture, and of their row
// kernels at each processor level (argument 0 plain C, 1 SSE2, 2 AVX2).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dsp/cpu_level.h"
#include "picture/colour_tables.h"
#include "picture/input_conversion.h"
#include "picture/output_conversion.h"
#include "picture/picture_kernels.h"
#include "picture/prefilter.h"
#include "picture/yuv_frame.h"

namespace rq43 {
namespace {

constexpr uint32_t kWidth = 640;
constexpr uint32_t kHeight = 480;

std::vector<uint8_t> Noise(size_t bytes) {
    std::mt19937 random(1);
    std::vector<uint8_t> out(bytes);
    for (auto& byte : out) byte = static_cast<uint8_t>(random());
    return out;
}

void SetPixels(benchmark::State& state) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight);
}

void BM_RgbToYuv(benchmark::State& state) {
    const auto bpp = static_cast<int32_t>(state.range(0));
    const auto source = Noise(size_t{kWidth} * kHeight * static_cast<size_t>(bpp));
    YuvFrame frame;
    AllocateFrame(frame, kWidth, kHeight, 16);
    for (auto _ : state) {
        ConvertRgbToYuv(source.data(), frame, bpp, kWidth * bpp);
        benchmark::DoNotOptimize(frame.u[0]);
    }
    SetPixels(state);
}
BENCHMARK(BM_RgbToYuv)->Arg(3)->Arg(4);

void BM_Yuy2ToYuv(benchmark::State& state) {
    const auto source = Noise(size_t{kWidth} * kHeight * 2);
    YuvFrame frame;
    AllocateFrame(frame, kWidth, kHeight, 16);
    for (auto _ : state) {
        ConvertYuy2ToYuv(-2 * ptrdiff_t{kWidth}, source.data() + 2 * kWidth * (kHeight - 1), frame);
        benchmark::DoNotOptimize(frame.u[0]);
    }
    SetPixels(state);
}
BENCHMARK(BM_Yuy2ToYuv);

YuvFrame& NoisyFrame() {
    static YuvFrame frame;
    if (!frame.allocated) {
        AllocateFrame(frame, kWidth, kHeight, 16);
        const auto noise = Noise(frame.bufferSize);
        std::copy(noise.begin(), noise.end(), frame.buffer);
    }
    return frame;
}

void BM_YuvToRgb(benchmark::State& state) {
    const auto bpp = static_cast<int32_t>(state.range(0));
    std::vector<uint8_t> destination(size_t{kWidth} * kHeight * static_cast<size_t>(bpp));
    const YuvFrame& frame = NoisyFrame();
    for (auto _ : state) {
        ConvertYuvToRgb(frame, destination.data(), bpp, kWidth * bpp);
        benchmark::DoNotOptimize(destination.data());
    }
    SetPixels(state);
}
BENCHMARK(BM_YuvToRgb)->Arg(3)->Arg(4);

void BM_YuvToUyvy(benchmark::State& state) {
    std::vector<uint8_t> destination(size_t{kWidth} * kHeight * 2);
    const YuvFrame& frame = NoisyFrame();
    for (auto _ : state) {
        ConvertYuvToUyvy(destination.data(), frame, 2 * kWidth);
        benchmark::DoNotOptimize(destination.data());
    }
    SetPixels(state);
}
BENCHMARK(BM_YuvToUyvy);

void BM_PrefilterFrame(benchmark::State& state) {
    YuvFrame& frame = NoisyFrame();
    for (auto _ : state) {
        PrefilterFrame(frame, 10, 1);
        benchmark::DoNotOptimize(frame.y[0]);
    }
    SetPixels(state);
}
BENCHMARK(BM_PrefilterFrame);

// The kernels of the benchmark's level, or nullptr (and the run skipped) when the processor lacks it.
const dsp::PictureKernels* KernelsOf(benchmark::State& state) {
    const auto level = static_cast<dsp::CpuLevel>(state.range(0));
    if (level > dsp::DetectCpuLevel()) {
        state.SkipWithError("level not available");
        return nullptr;
    }
    state.SetLabel(dsp::CpuLevelName(level));
    return &PictureKernelsFor(level);
}

// Runs `row(r)` for every row of a picture per iteration.
template <typename Row>
void TimeRows(benchmark::State& state, Row row) {
    for (auto _ : state) {
        for (uint32_t r = 0; r < kHeight; ++r) row(r);
        benchmark::ClobberMemory();
    }
    SetPixels(state);
}

void BM_PackUyvyRows(benchmark::State& state) {
    const dsp::PictureKernels* kernels = KernelsOf(state);
    if (kernels == nullptr) return;
    const auto planes = Noise(size_t{kWidth} * 2);
    std::vector<uint8_t> out(size_t{kWidth} * kHeight * 2);
    TimeRows(state, [&](uint32_t r) {
        kernels->packUyvyRow(planes.data(), planes.data() + kWidth, planes.data() + kWidth * 3 / 2,
                             kWidth / 2, out.data() + size_t{r} * kWidth * 2);
    });
}
BENCHMARK(BM_PackUyvyRows)->DenseRange(0, 2);

void BM_YuvToRgbRows(benchmark::State& state) {
    const dsp::PictureKernels* kernels = KernelsOf(state);
    if (kernels == nullptr) return;
    const dsp::RgbOutputTables tables = RgbOutputTablesOf(GetColourTables());
    const auto planes = Noise(size_t{kWidth} * 2);
    std::vector<uint8_t> out(size_t{kWidth} * kHeight * 4);
    const auto bpp = static_cast<int32_t>(state.range(1));
    TimeRows(state, [&](uint32_t r) {
        kernels->yuvToRgbRow(planes.data(), planes.data() + kWidth, planes.data() + kWidth * 3 / 2, kWidth,
                             bpp, tables, out.data() + size_t{r} * kWidth * static_cast<size_t>(bpp));
    });
}
BENCHMARK(BM_YuvToRgbRows)->ArgsProduct({{0, 1, 2}, {3, 4}});

void BM_RgbToYuvRows(benchmark::State& state) {
    const dsp::PictureKernels* kernels = KernelsOf(state);
    if (kernels == nullptr) return;
    const dsp::RgbInputTables tables = RgbInputTablesOf(GetColourTables());
    const auto bpp = static_cast<int32_t>(state.range(1));
    const auto in = Noise(size_t{kWidth} * kHeight * static_cast<size_t>(bpp));
    std::vector<uint8_t> out(size_t{kWidth} * kHeight * 3);
    TimeRows(state, [&](uint32_t r) {
        uint8_t* y = out.data() + size_t{r} * kWidth * 3;
        kernels->rgbToYuvRow(in.data() + size_t{r} * kWidth * static_cast<size_t>(bpp), kWidth, bpp, tables,
                             y, y + kWidth, y + 2 * kWidth);
    });
}
BENCHMARK(BM_RgbToYuvRows)->ArgsProduct({{0, 1, 2}, {3, 4}});

void BM_DeinterleaveRows(benchmark::State& state) {
    const dsp::PictureKernels* kernels = KernelsOf(state);
    if (kernels == nullptr) return;
    const auto in = Noise(size_t{kWidth} * kHeight * 2);
    std::vector<uint8_t> out(size_t{kWidth} * kHeight * 2);
    TimeRows(state, [&](uint32_t r) {
        uint8_t* even = out.data() + size_t{r} * kWidth * 2;
        kernels->deinterleaveRow(in.data() + size_t{r} * kWidth * 2, kWidth, even, even + kWidth);
    });
}
BENCHMARK(BM_DeinterleaveRows)->DenseRange(0, 2);

void BM_DecimateColumnsRows(benchmark::State& state) {
    const dsp::PictureKernels* kernels = KernelsOf(state);
    if (kernels == nullptr) return;
    const auto in = Noise(size_t{kWidth} * kHeight);
    std::vector<uint8_t> out(size_t{kWidth} * kHeight / 2);
    TimeRows(state, [&](uint32_t r) {
        if (r % 2 == 1 || r + 6 > kHeight) return;
        const uint8_t* rows[6];
        for (uint32_t t = 0; t < 6; ++t) rows[t] = in.data() + size_t{r + t} * kWidth;
        kernels->decimateColumns(rows, kWidth, out.data() + size_t{r / 2} * kWidth);
    });
}
BENCHMARK(BM_DecimateColumnsRows)->DenseRange(0, 2);

void BM_PrefilterRows(benchmark::State& state) {
    const dsp::PictureKernels* kernels = KernelsOf(state);
    if (kernels == nullptr) return;
    const PsiTable psi = BuildPsiTable(10);
    auto plane = Noise(size_t{kWidth} * kHeight);
    std::vector<uint8_t> pending(kWidth);
    TimeRows(state, [&](uint32_t r) {
        uint8_t* row = plane.data() + size_t{r} * kWidth;
        kernels->prefilterRow(r > 0 ? row - kWidth : nullptr, row, r + 1 < kHeight ? row + kWidth : nullptr,
                              kWidth, psi.data(), pending.data());
    });
}
BENCHMARK(BM_PrefilterRows)->DenseRange(0, 2);

}  // namespace
}  // namespace rq43
