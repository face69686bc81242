// The transform kernels at every processor level this machine runs, side by side: the ratios between
// levels are the figures to read.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "dsp/cpu_level.h"
#include "transform/quantiser.h"
#include "transform/transform_kernels.h"

namespace rq43 {
namespace {

void RandomBlock(int16_t* block, int range, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(-range, range);
    for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(value(random));
}

// Levels as coded blocks carry them: a few small values at the low frequencies.
void SparseLevels(int16_t* levels) {
    for (int k = 0; k < 64; ++k) levels[k] = static_cast<int16_t>(k < 10 ? (k % 3) - 1 : 0);
    levels[0] = 12;
}

using Kernels = dsp::TransformKernels;

// The frame transform's use: a row of eight blocks of difference samples into their slots; time per block.
void ForwardDct(benchmark::State& state, const Kernels& kernels) {
    int16_t source[8 * 64], blocks[8 * 128];
    for (uint32_t i = 0; i < 8; ++i) RandomBlock(source + 64 * i, 128, i + 1);
    for (auto _ : state) {
        kernels.forwardDctOfDifferences(source, 64, 8, blocks, 128);
        benchmark::DoNotOptimize(blocks);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 8);
}

void Quantise(benchmark::State& state, const Kernels& kernels, int32_t quality) {
    QuantiserTables tables;
    BuildQuantiserTables(quality, tables);
    int16_t coefficients[64], levels[64];
    RandomBlock(coefficients, 2000, 3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            kernels.quantise(levels, tables.reciprocalTable[kInterLumaTable], coefficients));
        benchmark::DoNotOptimize(levels);
    }
}

void InverseDct(benchmark::State& state, const Kernels& kernels) {
    int16_t coefficients[64], samples[64];
    RandomBlock(coefficients, 400, 2);
    for (auto _ : state) {
        kernels.inverseDct(coefficients, samples, 128);
        benchmark::DoNotOptimize(samples);
    }
}

void AddBlock(benchmark::State& state, const Kernels& kernels) {
    int16_t residual[64];
    RandomBlock(residual, 40, 4);
    uint8_t picture[8 * 32] = {};
    for (auto _ : state) {
        kernels.addBlock(picture, 32, residual);
        benchmark::DoNotOptimize(picture);
    }
}

void Reconstruct(benchmark::State& state, const Kernels& kernels, bool intra, bool topLeft) {
    QuantiserTables tables;
    BuildQuantiserTables(50, tables);
    int16_t levels[64];
    SparseLevels(levels);
    uint8_t picture[8 * 32] = {};
    const auto reconstruct = topLeft
                                 ? (intra ? kernels.reconstructIntraTopLeft : kernels.reconstructInterTopLeft)
                                 : (intra ? kernels.reconstructIntra : kernels.reconstructInter);
    for (auto _ : state) {
        reconstruct(tables.quantiserTable[intra ? kIntraLumaTable : kInterLumaTable], levels, picture, 32);
        benchmark::DoNotOptimize(picture);
    }
}

void Dequantise(benchmark::State& state, const Kernels& kernels) {
    QuantiserTables tables;
    BuildQuantiserTables(50, tables);
    int16_t levels[64];
    SparseLevels(levels);
    int16_t coefficients[64];
    for (auto _ : state) {
        kernels.dequantise(tables.quantiserTable[kInterLumaTable], levels, coefficients);
        benchmark::DoNotOptimize(coefficients);
    }
}

void AddInterDc(benchmark::State& state, const Kernels& kernels) {
    uint8_t picture[8 * 32] = {};
    for (auto _ : state) {
        kernels.addInterDc(picture, 32, 16, 3);
        benchmark::DoNotOptimize(picture);
    }
}

[[maybe_unused]] const bool kRegistered = [] {
    for (dsp::CpuLevel level :
         {dsp::CpuLevel::C, dsp::CpuLevel::Sse2, dsp::CpuLevel::Avx2, dsp::CpuLevel::Avx512}) {
        if (level > dsp::DetectCpuLevel()) continue;
        const Kernels& k = TransformKernelsFor(level);
        const std::string at = std::string("/") + dsp::CpuLevelName(level);
        benchmark::RegisterBenchmark(("ForwardDct" + at).c_str(), ForwardDct, k);
        benchmark::RegisterBenchmark(("Quantise/q20" + at).c_str(), Quantise, k, 20);
        benchmark::RegisterBenchmark(("Quantise/q90" + at).c_str(), Quantise, k, 90);
        benchmark::RegisterBenchmark(("Dequantise" + at).c_str(), Dequantise, k);
        benchmark::RegisterBenchmark(("InverseDct" + at).c_str(), InverseDct, k);
        benchmark::RegisterBenchmark(("AddBlock" + at).c_str(), AddBlock, k);
        benchmark::RegisterBenchmark(("ReconstructIntra" + at).c_str(), Reconstruct, k, true, false);
        benchmark::RegisterBenchmark(("ReconstructInter" + at).c_str(), Reconstruct, k, false, false);
        benchmark::RegisterBenchmark(("ReconstructIntraTopLeft" + at).c_str(), Reconstruct, k, true, true);
        benchmark::RegisterBenchmark(("ReconstructInterTopLeft" + at).c_str(), Reconstruct, k, false, true);
        benchmark::RegisterBenchmark(("AddInterDc" + at).c_str(), AddInterDc, k);
    }
    return true;
}();

}  // namespace
}  // namespace rq43
