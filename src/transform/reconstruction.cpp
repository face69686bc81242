#include "transform/reconstruction.h"

#include <cstddef>

#include "transform/fixed_point.h"
#include "transform/inverse_dct.h"

namespace rq43 {

void FillIntraDc(uint8_t* destination, int32_t stride, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    const uint32_t pattern = v | v << 8 | v << 16 | v << 24;
    for (int r = 0; r < 8; ++r) {
        uint8_t* row = destination + static_cast<ptrdiff_t>(r) * stride;
        for (int c = 0; c < 8; ++c) row[c] = static_cast<uint8_t>(pattern >> (8 * (c % 4)));
    }
}

void AddInterDc(uint8_t* destination, int32_t stride, int16_t step, int16_t level) {
    int16_t residual[64];
    const int16_t value = Saturate16((int32_t{step} * level + 4) >> 3);
    for (int16_t& sample : residual) sample = value;
    AddBlock(destination, stride, residual);
}

void ReconstructIntraBlock(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                           int32_t stride) {
    int16_t coefficients[64];
    DequantiseBlock(steps, levels, coefficients);
    IdctPut(coefficients, destination, stride);
}

void ReconstructInterBlock(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                           int32_t stride) {
    int16_t coefficients[64];
    DequantiseBlock(steps, levels, coefficients);
    InverseDct(coefficients, coefficients, 0);
    AddBlock(destination, stride, coefficients);
}

}  // namespace rq43
