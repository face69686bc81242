#include <benchmark/benchmark.h>

#include <random>

#include "transform/forward_dct.h"
#include "transform/inverse_dct.h"
#include "transform/quantiser.h"

namespace rq43 {
namespace {

void RandomBlock(int16_t* block, int range, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(-range, range);
    for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(value(random));
}

void BM_ForwardDct(benchmark::State& state) {
    int16_t source[64], block[64];
    RandomBlock(source, 128, 1);
    for (auto _ : state) {
        for (int i = 0; i < 64; ++i) block[i] = source[i];
        ForwardDct(block);
        benchmark::DoNotOptimize(block);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ForwardDct);

void BM_InverseDct(benchmark::State& state) {
    int16_t coefficients[64], samples[64];
    RandomBlock(coefficients, 400, 2);
    for (auto _ : state) {
        InverseDct(coefficients, samples, 128);
        benchmark::DoNotOptimize(samples);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InverseDct);

void BM_QuantiseBlock(benchmark::State& state) {
    QuantiserTables tables;
    BuildQuantiserTables(static_cast<int32_t>(state.range(0)), tables);
    int16_t coefficients[64], levels[64];
    RandomBlock(coefficients, 2000, 3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            QuantiseBlock(levels, tables.reciprocalTable[kInterLumaTable], coefficients));
        benchmark::DoNotOptimize(levels);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QuantiseBlock)->Arg(20)->Arg(90);

}  // namespace
}  // namespace rq43
