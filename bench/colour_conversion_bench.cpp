// Throughput of the colour converters and the prefilter on a 640 x 480 picture.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "picture/input_conversion.h"
#include "picture/output_conversion.h"
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

}  // namespace
}  // namespace rq43
