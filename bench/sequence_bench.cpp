// Encode and decode speed of whole frames through DriverProc, on a 320x240 moving clip.
#include <benchmark/benchmark.h>

#include <ctime>
#include <vector>

#include "driver/driver_proc.h"
#include "platform/processor.h"
#include "platform/vfw.h"

namespace rq43 {
namespace {

constexpr int32_t kWidth = 320;
constexpr int32_t kHeight = 240;
constexpr int kClipFrames = 16;

LRESULT Send(uintptr_t handle, UINT message, const void* p1 = nullptr, LPARAM p2 = 0) {
    return DriverProc(0, reinterpret_cast<HDRVR>(handle), message, reinterpret_cast<LPARAM>(p1), p2);
}

BITMAPINFOHEADER Rgb24Header() {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = kWidth;
    header.biHeight = kHeight;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = kWidth * kHeight * 3;
    return header;
}

// A smooth picture with detail, panned one pixel across and half a pixel down per frame.
std::vector<std::vector<uint8_t>> Clip() {
    std::vector<std::vector<uint8_t>> frames;
    uint32_t noise = 12345;
    for (int f = 0; f < kClipFrames; ++f) {
        std::vector<uint8_t> pixels(size_t(kWidth) * kHeight * 3);
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < kWidth; ++x) {
                const int32_t u = x + f, v = 2 * y + f;
                for (int c = 0; c < 3; ++c) {
                    noise = noise * 1664525u + 1013904223u;
                    const int32_t value = 60 + ((u * (3 + c) + v * 2) % 97) + ((u / 9 + v / 13) % 2) * 60 +
                                          int32_t(noise >> 29);
                    pixels[(size_t(y) * kWidth + size_t(x)) * 3 + size_t(c)] = uint8_t(value);
                }
            }
        }
        frames.push_back(std::move(pixels));
    }
    return frames;
}

struct Encoded {
    std::vector<std::vector<uint8_t>> frames;
    BITMAPINFOHEADER format{};
};

void Open(uintptr_t handle) {
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = ICTYPE_VIDEO;
    Send(handle, DRV_OPEN, nullptr, reinterpret_cast<LPARAM>(&open));
}

// Compresses the clip once per pass; `target` bytes per frame (0: one attempt per frame).
Encoded EncodeClip(uintptr_t handle, const std::vector<std::vector<uint8_t>>& clip, DWORD target) {
    Encoded encoded;
    BITMAPINFOHEADER input = Rgb24Header();
    Send(handle, ICM_COMPRESS_GET_FORMAT, &input, reinterpret_cast<LPARAM>(&encoded.format));
    Send(handle, ICM_COMPRESS_BEGIN, &input, reinterpret_cast<LPARAM>(&encoded.format));
    std::vector<uint8_t> buffer(size_t(kWidth) * kHeight * 4 + 8);
    for (int i = 0; i < kClipFrames; ++i) {
        BITMAPINFOHEADER output = encoded.format;
        DWORD flags = 0, chunk = 0;
        ICCOMPRESS record{0,
                          &output,
                          buffer.data(),
                          &input,
                          const_cast<uint8_t*>(clip[size_t(i)].data()),
                          &chunk,
                          &flags,
                          i,
                          target,
                          7500,
                          nullptr,
                          nullptr};
        Send(handle, ICM_COMPRESS, &record, sizeof record);
        encoded.frames.emplace_back(buffer.begin(), buffer.begin() + output.biSizeImage);
    }
    Send(handle, ICM_COMPRESS_END);
    return encoded;
}

// range(0): bytes per frame (0: one attempt); range(1): workers, 1 or 2. Compare the fps of the two
// worker counts side by side. CPU is the calling thread's (with two workers the caller is worker 0, so on
// an idle machine one-worker CPU / two-worker CPU is the speed-up to expect); process_cpu_ms is all
// threads' per frame, what the second worker costs.
void EncodeFrames(benchmark::State& state) {
    const auto clip = Clip();
    platform::OverrideProcessorCount(static_cast<uint32_t>(state.range(1)));
    Open(0xB001);
    const std::clock_t processStart = std::clock();
    for (auto _ : state) benchmark::DoNotOptimize(EncodeClip(0xB001, clip, DWORD(state.range(0))));
    state.counters["process_cpu_ms"] = 1000.0 * double(std::clock() - processStart) / CLOCKS_PER_SEC /
                                       double(state.iterations() * kClipFrames);
    Send(0xB001, DRV_CLOSE);
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

void DecodeFrames(benchmark::State& state) {
    Open(0xB002);
    const Encoded encoded = EncodeClip(0xB002, Clip(), 0);
    BITMAPINFOHEADER input = encoded.format;
    BITMAPINFOHEADER output = Rgb24Header();
    output.biBitCount = uint16_t(state.range(0));
    if (output.biBitCount == 16) output.biCompression = FOURCC_UYVY;
    output.biSizeImage = DWORD(kWidth * kHeight * output.biBitCount / 8);
    std::vector<uint8_t> pixels(output.biSizeImage);
    Send(0xB002, ICM_DECOMPRESS_BEGIN, &input, reinterpret_cast<LPARAM>(&output));
    for (auto _ : state) {
        for (const auto& frame : encoded.frames) {
            input.biSizeImage = DWORD(frame.size());
            ICDECOMPRESS record{0, &input, const_cast<uint8_t*>(frame.data()), &output, pixels.data(), 0};
            benchmark::DoNotOptimize(Send(0xB002, ICM_DECOMPRESS, &record, sizeof record));
        }
    }
    Send(0xB002, ICM_DECOMPRESS_END);
    Send(0xB002, DRV_CLOSE);
    state.SetItemsProcessed(state.iterations() * kClipFrames);
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations() * kClipFrames), benchmark::Counter::kIsRate);
}
BENCHMARK(DecodeFrames)->Arg(16)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace rq43
