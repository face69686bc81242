#include "transform/quantiser.h"

#include <cstdlib>

#include "dsp/transform_constants.h"

namespace rq43 {
namespace {

// clang-format off
constexpr int16_t kIntraLumaBase[64] = {
    16, 11, 10, 16,  24,  40,  51,  61,
    12, 12, 14, 19,  26,  58,  60,  55,
    14, 13, 16, 24,  40,  57,  69,  56,
    14, 17, 22, 29,  51,  87,  80,  62,
    18, 22, 37, 56,  68,  87, 103,  77,
    24, 35, 55, 64,  81, 104, 113,  92,
    49, 64, 78, 87, 103, 121, 120, 101,
    72, 92, 95, 98, 112, 100, 103,  99};

constexpr int16_t kIntraChromaBase[64] = {
    17, 18, 24, 47, 99, 99, 99, 99,
    18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99,
    47, 66, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99};
// clang-format on

// Inter tables depend on row + column only.
constexpr int16_t kInterByDiagonal[15] = {16, 16, 16, 20, 24, 28, 32, 40, 48, 64, 64, 64, 96, 128, 128};

int16_t BaseEntry(int table, int index) {
    switch (table) {
        case kIntraLumaTable:
            return kIntraLumaBase[index];
        case kIntraChromaTable:
            return kIntraChromaBase[index];
        default:
            return kInterByDiagonal[index / 8 + index % 8];
    }
}

int32_t QualityScale(int32_t quality) {
    if (quality <= 0) return 5000;
    if (quality < 50) return 5000 / quality;
    if (quality <= 100) return 2 * (100 - quality);
    return 0;
}

}  // namespace

void BuildQuantiserTables(int32_t quality, QuantiserTables& tables) {
    const int32_t scale = QualityScale(quality);
    for (int table = 0; table < 4; ++table) {
        for (int i = 0; i < 64; ++i) {
            int32_t step = (BaseEntry(table, i) * scale + 50) / 100;
            if (step < 2) step = 2;
            if (step > 32767) step = 32767;
            if ((i == 0 || i == 1 || i == 8 || i == 9) && step < 4) step = 4;
            tables.quantiserTable[table][i] = static_cast<int16_t>(step);
            tables.reciprocalTable[table][i] = static_cast<int16_t>(16384 / (8 * step));
        }
    }
}

uint8_t QuantiseBlock(int16_t* out, const int16_t* reciprocal, const int16_t* in) {
    int16_t level[64];
    uint8_t firstAc = 0;
    for (int i = 0; i < 64; ++i) {
        const uint32_t magnitude = static_cast<uint32_t>(std::abs(int32_t{in[i]}));
        uint32_t scaled = (magnitude * static_cast<uint32_t>(reciprocal[i]) + 5461u) >> 14;
        if (scaled > 32767u) scaled = 32767u;
        const int32_t value = static_cast<int32_t>(scaled);
        level[i] = static_cast<int16_t>(in[i] < 0 ? -value : value);
        if (firstAc == 0 && i > 0 && value != 0) firstAc = static_cast<uint8_t>(i);
    }
    for (int k = 0; k < 64; ++k) out[k] = level[kZigzag[k]];
    return firstAc;
}

}  // namespace rq43
