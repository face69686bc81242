// Encode and decode speed of whole frames through DriverProc, on a 320x240 moving clip.
#include <benchmark/benchmark.h>

#include <ctime>
#include <vector>

#include "host/codec_host.h"
#include "host/moving_clip.h"
#include "platform/processor.h"

namespace rq43 {
namespace {

constexpr int32_t kWidth = 320;
constexpr int32_t kHeight = 240;
constexpr int kClipFrames = 16;

std::vector<std::vector<uint8_t>> Clip() {
    std::vector<std::vector<uint8_t>> frames;
    for (int f = 0; f < kClipFrames; ++f) frames.push_back(ClipPictureRgb24(kWidth, kHeight, f, 4));
    return frames;
}

struct Encoded {
    std::vector<std::vector<uint8_t>> frames;
    BITMAPINFOHEADER format{};
};

// Compresses the clip once per pass; `target` bytes per frame (0: one attempt per frame).
Encoded EncodeClip(uintptr_t handle, const std::vector<std::vector<uint8_t>>& clip, DWORD target) {
    Encoded encoded;
    EncoderSession session(handle, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    session.Begin();
    encoded.format = session.CompressedFormat();
    CompressOptions options;
    options.frameSize = target;
    for (int i = 0; i < kClipFrames; ++i) {
        CompressedFrame frame;
        session.Compress(clip[size_t(i)], i, &frame, options);
        encoded.frames.push_back(std::move(frame.bytes));
    }
    return encoded;
}

// range(0): bytes per frame (0: one attempt); range(1): workers, 1 or 2. Compare the fps of the two
// worker counts side by side. CPU is the calling thread's (with two workers the caller is worker 0, so on
// an idle machine one-worker CPU / two-worker CPU is the speed-up to expect); process_cpu_ms is all
// threads' per frame, what the second worker costs.
void EncodeFrames(benchmark::State& state) {
    const auto clip = Clip();
    platform::OverrideProcessorCount(static_cast<uint32_t>(state.range(1)));
    const std::clock_t processStart = std::clock();
    for (auto _ : state) benchmark::DoNotOptimize(EncodeClip(0xB001, clip, DWORD(state.range(0))));
    state.counters["process_cpu_ms"] = 1000.0 * double(std::clock() - processStart) / CLOCKS_PER_SEC /
                                       double(state.iterations() * kClipFrames);
    platform::OverrideProcessorCount(0);
    state.SetItemsProcessed(state.iterations() * kClipFrames);
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations() * kClipFrames), benchmark::Counter::kIsRate);
}
BENCHMARK(EncodeFrames)
    ->ArgNames({"target", "workers"})
    ->ArgsProduct({{0, 6000}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// range(0): bits per output pixel; 16 is UYVY.
void DecodeFrames(benchmark::State& state) {
    const Encoded encoded = EncodeClip(0xB002, Clip(), 0);
    const HostFormat format = state.range(0) == 16   ? HostFormat::Uyvy
                              : state.range(0) == 24 ? HostFormat::Rgb24
                                                     : HostFormat::Rgb32;
    DecoderSession session(0xB002, encoded.format, HostHeader(format, kWidth, kHeight, false));
    session.Begin();
    std::vector<uint8_t> pixels(session.OutputBytes());
    for (auto _ : state) {
        for (const auto& frame : encoded.frames)
            benchmark::DoNotOptimize(session.Decompress(frame.data(), frame.size(), pixels.data()));
    }
    state.SetItemsProcessed(state.iterations() * kClipFrames);
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations() * kClipFrames), benchmark::Counter::kIsRate);
}
BENCHMARK(DecodeFrames)->Arg(16)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace rq43
