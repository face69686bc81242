#include "residual/block_decisions.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>

#include "residual/block_error.h"
#include "residual/residual_coder.h"
#include "transform/fixed_point.h"
#include "transform/quantiser.h"
#include "transform/reconstruction.h"
#include "transform/transform_kernels.h"

namespace rq43 {
namespace {

constexpr ptrdiff_t kInterHalf = 64;
constexpr float kIntraFactor = 40.0f;
constexpr float kCodedMargin = 0.3f;

// Sums of squares accumulate in a 32-bit lane and wrap there, as the vector code they model does.
float MeanOfSquares(uint32_t sum) {
    return static_cast<float>(static_cast<int32_t>(sum)) * 0.015625f;
}

float ErrorAgainstResidual(const int16_t* samples, const int16_t* residual, int32_t pitch) {
    return MeanOfSquares(ActiveBlockErrorKernels().residualError(samples, residual, pitch));
}

void FullReconstruction(const QuantiserTables& tables, int tableIndex, const int16_t* levels,
                        int16_t* samples) {
    const dsp::TransformKernels& kernels = ActiveTransformKernels();
    kernels.dequantise(tables.quantiserTable[tableIndex], levels, samples);
    kernels.inverseDct(samples, samples, 128);
}

int32_t AcMagnitude(const int16_t* levels) {
    // All 64 and the DC taken back out: a loop the compiler turns into vector code, unlike 1..63.
    int32_t sum = 0;
    for (int k = 0; k < 64; ++k) sum += std::abs(int32_t{levels[k]});
    return sum - std::abs(int32_t{levels[0]});
}

// In 16-bit lanes and apart from the levels, so that the compiler makes it vector minimum and maximum.
void WriteClamped(int16_t* __restrict out, const int16_t* __restrict levels) {
    constexpr auto kLargest = static_cast<int16_t>(kLargestLevel);
    for (int k = 0; k < 64; ++k) {
        const int16_t level = levels[k];
        const int16_t above = level < -kLargest ? static_cast<int16_t>(-kLargest) : level;
        out[k] = above > kLargest ? kLargest : above;
    }
}

void WriteZero(int16_t* out) {
    std::fill(out, out + 64, int16_t{0});
}

float Threshold(float factor, int32_t quality) {
    const int32_t distance = 101 - quality;
    return factor * static_cast<float>(distance * distance);
}

enum class LumaChoice { Intra, Keep, NoResidual };

}  // namespace

uint8_t QuantiseIntraLuma(int16_t* levels, const QuantiserTables& tables, const int16_t* coefficients) {
    const uint8_t firstAc =
        ActiveTransformKernels().quantise(levels, tables.reciprocalTable[kIntraLumaTable], coefficients);
    const int16_t step = tables.quantiserTable[kIntraLumaTable][0];
    if (firstAc == 0) {
        const int32_t value = IntraDcValue(step, levels[0]);
        if (value > 255)
            levels[0] = static_cast<int16_t>(1019 / step);
        else if (value < 0)
            levels[0] = static_cast<int16_t>(-(1028 / step));
    }
    return firstAc;
}

float InterError(const QuantiserTables& tables, int tableIndex, const int16_t* coefficients,
                 const int16_t* residual, int32_t pitch, int16_t* levels) {
    int16_t samples[64];
    if (ActiveTransformKernels().quantise(levels, tables.reciprocalTable[tableIndex], coefficients) != 0) {
        FullReconstruction(tables, tableIndex, levels, samples);
    } else {
        const int16_t value = Wrap16(IntraDcValue(tables.quantiserTable[tableIndex][0], levels[0]));
        std::fill(samples, samples + 64, value);
    }
    return ErrorAgainstResidual(samples, residual, pitch);
}

float IntraError(const QuantiserTables& tables, const int16_t* levels, const uint8_t* source,
                 int32_t stride) {
    uint8_t pixels[64];
    if (AcMagnitude(levels) != 0) {
        ActiveTransformKernels().reconstructIntra(tables.quantiserTable[kIntraLumaTable], levels, pixels, 8);
    } else {
        const auto value =
            static_cast<uint8_t>(IntraDcValue(tables.quantiserTable[kIntraLumaTable][0], levels[0]));
        std::fill(pixels, pixels + 64, value);
    }
    return MeanOfSquares(ActiveBlockErrorKernels().pixelError(pixels, source, stride));
}

float SkipError(const int16_t* residual, int32_t pitch) {
    // A difference and its negation square alike, even where 16 bits wrap.
    static constexpr auto kNoResidual = [] {
        std::array<int16_t, 64> samples{};
        samples.fill(128);
        return samples;
    }();
    return ErrorAgainstResidual(kNoResidual.data(), residual, pitch);
}

float CodedError(const QuantiserTables& tables, int tableIndex, const int16_t* levels,
                 const int16_t* residual, int32_t pitch) {
    int16_t samples[64];
    FullReconstruction(tables, tableIndex, levels, samples);
    return ErrorAgainstResidual(samples, residual, pitch);
}

void QuantiseKeyLumaRows(ResidualCoder& coder, int16_t* out, int32_t firstRow, int32_t endRow) {
    const auto across = static_cast<size_t>(coder.blocksAcross);
    // The delta section of this attempt may have quantised them already, with the same tables.
    const bool intraReady = coder.intraLumaQuality == coder.quality;
    for (size_t block = static_cast<size_t>(firstRow) * across; block < static_cast<size_t>(endRow) * across;
         ++block) {
        int16_t* levels = &coder.intraLumaLevels[block * 64];
        if (!intraReady)
            QuantiseIntraLuma(levels, coder.quantiserTables,
                              &coder.coefficients.y[block * kCoefficientsPerBlock]);
        WriteClamped(out + block * 64, levels);
    }
}

void QuantiseKeyChromaRow(const ResidualCoder& coder, int plane, int32_t row, int16_t* out) {
    const std::vector<int16_t>& coefficients = plane == 0 ? coder.coefficients.u : coder.coefficients.v;
    const auto quantise = ActiveTransformKernels().quantise;
    const auto across = static_cast<size_t>(coder.chromaBlocksAcross);
    const size_t planeBlocks = across * static_cast<size_t>(coder.chromaBlocksDown);
    for (size_t block = static_cast<size_t>(row) * across; block < static_cast<size_t>(row + 1) * across;
         ++block) {
        int16_t levels[64];
        quantise(levels, coder.quantiserTables.reciprocalTable[kIntraChromaTable],
                 coefficients.data() + block * kCoefficientsPerBlock);
        WriteClamped(out + (static_cast<size_t>(plane) * planeBlocks + block) * 64, levels);
    }
}

int32_t DecideLumaRows(ResidualCoder& coder, int16_t* out, int32_t firstRow, int32_t endRow) {
    const QuantiserTables& tables = coder.quantiserTables;
    const float threshold = Threshold(0.001f, coder.quality);
    const int32_t pitch = coder.width;
    // The key section of this attempt may have quantised the same intra coefficients with the same tables.
    const bool intraReady = coder.intraLumaQuality == coder.quality;
    int32_t intraCount = 0;
    for (int32_t row = firstRow; row < endRow; ++row) {
        for (int32_t column = 0; column < coder.blocksAcross; ++column) {
            const ptrdiff_t block = ptrdiff_t{row} * coder.blocksAcross + column;
            const int16_t* coefficients =
                &coder.coefficients.y[static_cast<size_t>(block) * kCoefficientsPerBlock];
            const int16_t* residual = coder.residualPlanes->y + ptrdiff_t{8} * row * pitch + 8 * column;
            const uint8_t* source = coder.source->y + ptrdiff_t{8} * row * coder.source->stride + 8 * column;

            int16_t inter[64];
            const float interError =
                InterError(tables, kInterLumaTable, coefficients + kInterHalf, residual, pitch, inter);
            int16_t* intra = &coder.intraLumaLevels[static_cast<size_t>(block) * 64];
            if (!intraReady) QuantiseIntraLuma(intra, tables, coefficients);
            const float intraError = IntraError(tables, intra, source, coder.source->stride);
            const int32_t interAc = AcMagnitude(inter);
            const int32_t intraAc = AcMagnitude(intra);
            const int32_t v = interAc + std::abs(int32_t{coefficients[kInterHalf]});

            LumaChoice choice = LumaChoice::Keep;
            if (interError > kIntraFactor * intraError) {
                choice = LumaChoice::Intra;
            } else if (interError >= intraError && intraAc < interAc) {
                choice = LumaChoice::Intra;
            } else if (v <= 0) {
                choice = LumaChoice::Keep;
            } else if (v <= 2) {
                choice = LumaChoice::NoResidual;
            } else {
                // With AC levels, InterError has reconstructed these very levels in full already.
                const float skipError = SkipError(residual, pitch);
                if (skipError <= threshold ||
                    (interAc != 0 ? interError
                                  : CodedError(tables, kInterLumaTable, inter, residual, pitch)) +
                            kCodedMargin >=
                        skipError) {
                    choice = LumaChoice::NoResidual;
                }
            }

            uint8_t& flags = coder.yFlags[static_cast<size_t>(block)];
            int16_t* slot = out + block * 64;
            if (choice == LumaChoice::Intra) {
                WriteClamped(slot, intra);
                flags |= kBlockFlagIntra;
                ++intraCount;
                continue;
            }
            // The map must say exactly which blocks carry intra levels, whatever an earlier attempt left.
            flags &= static_cast<uint8_t>(~kBlockFlagIntra);
            if (choice == LumaChoice::Keep)
                WriteClamped(slot, inter);
            else
                WriteZero(slot);
        }
    }
    return intraCount;
}

void DecideChromaRow(const ResidualCoder& coder, int plane, int32_t row, int16_t* out) {
    const QuantiserTables& tables = coder.quantiserTables;
    const float threshold = Threshold(0.0005f, coder.quality);
    const auto quantise = ActiveTransformKernels().quantise;
    const int32_t pitch = coder.width;
    const std::vector<int16_t>& planeCoefficients = plane == 0 ? coder.coefficients.u : coder.coefficients.v;
    const int16_t* planeResidual = plane == 0 ? coder.residualPlanes->u : coder.residualPlanes->v;
    const auto planeBlocks = ptrdiff_t{coder.chromaBlocksAcross} * coder.chromaBlocksDown;
    for (int32_t column = 0; column < coder.chromaBlocksAcross; ++column) {
        const ptrdiff_t block = ptrdiff_t{row} * coder.chromaBlocksAcross + column;
        int16_t* slot = out + (plane * planeBlocks + block) * 64;
        const int16_t* coefficients = planeCoefficients.data() + block * kCoefficientsPerBlock + kInterHalf;
        const int16_t* residual = planeResidual + ptrdiff_t{8} * row * pitch + 8 * column;
        int16_t levels[64];
        quantise(levels, tables.reciprocalTable[kInterChromaTable], coefficients);
        if (AcMagnitude(levels) + std::abs(int32_t{levels[0]}) == 0) {
            WriteZero(slot);
            continue;
        }
        const float skipError = SkipError(residual, pitch);
        if (threshold > skipError ||
            CodedError(tables, kInterChromaTable, levels, residual, pitch) + kCodedMargin >= skipError) {
            WriteZero(slot);
        } else {
            WriteClamped(slot, levels);
        }
    }
}

}  // namespace rq43
