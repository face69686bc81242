// Token stream encode and decode over a frame-sized block sequence with realistic sparsity.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "residual/token_stream.h"

namespace rq43 {
namespace {

constexpr uint32_t kAcross = 90;  // 720 x 576 luma
constexpr uint32_t kDown = 72;

std::vector<int16_t> FrameLevels() {
    std::mt19937 random(11);
    std::vector<int16_t> levels(size_t{kAcross} * kDown * 64, 0);
    for (size_t b = 0; b < size_t{kAcross} * kDown; ++b) {
        if (random() % 3 == 0) continue;
        const int used = 1 + static_cast<int>(random() % 24);
        for (int i = 0; i < used; ++i) {
            if (random() % 2 != 0) continue;
            const int magnitude =
                i == 0 ? 20 + static_cast<int>(random() % 200) : 1 + static_cast<int>(random() % 4);
            levels[b * 64 + static_cast<size_t>(i)] =
                static_cast<int16_t>(random() % 2 ? magnitude : -magnitude);
        }
    }
    return levels;
}

std::vector<uint8_t> EncodeFrame(TokenStream& stream, const std::vector<int16_t>& levels) {
    std::vector<uint8_t> out(levels.size() / 64 * 192);
    EncodeTokenStream(stream, levels.data(), levels.size(), out.data(), out.data() + out.size());
    size_t size = 0;
    FinishTokenStream(stream, &size);
    out.resize(size);
    return out;
}

void BM_EncodeTokenStream(benchmark::State& state) {
    const std::vector<int16_t> levels = FrameLevels();
    std::vector<uint8_t> out(levels.size() / 64 * 192);
    TokenStream stream;
    stream.arithmetic = static_cast<uint8_t>(state.range(0));
    for (auto _ : state) {
        EncodeTokenStream(stream, levels.data(), levels.size(), out.data(), out.data() + out.size());
        size_t size = 0;
        FinishTokenStream(stream, &size);
        benchmark::DoNotOptimize(size);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kAcross * kDown);
}
BENCHMARK(BM_EncodeTokenStream)->Arg(0)->Arg(1)->ArgName("arithmetic");

void BM_DecodeTokenStream(benchmark::State& state) {
    const std::vector<int16_t> levels = FrameLevels();
    TokenStream encoder;
    encoder.arithmetic = static_cast<uint8_t>(state.range(0));
    const std::vector<uint8_t> bytes = EncodeFrame(encoder, levels);
    std::vector<int16_t> row(size_t{kAcross} * 64);
    std::vector<uint8_t> lastIndex(kAcross);
    TokenStream stream;
    for (auto _ : state) {
        OpenTokenStream(stream, bytes.data(), bytes.size(), uint64_t{kAcross} * kDown);
        for (uint32_t r = 0; r < kDown; ++r) {
            std::fill(row.begin(), row.end(), int16_t{0});
            DecodeBlockRow(stream, row.data(), kAcross, lastIndex.data());
        }
        benchmark::DoNotOptimize(row.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kAcross * kDown);
}
BENCHMARK(BM_DecodeTokenStream)->Arg(0)->Arg(1)->ArgName("arithmetic");

}  // namespace
}  // namespace rq43
