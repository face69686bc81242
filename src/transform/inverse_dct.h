// Dequantisation, the inverse 8x8 DCT and the two ways its output reaches a picture. Every result is part
// of the compressed format: encoder and decoders must agree bit for bit.
#pragma once

#include <cstdint>

namespace rq43 {

// 64 zigzag levels to 64 raster coefficients: level times step (one quantiser table's raster steps),
// keeping the low 16 bits of the product.
void DequantiseBlock(const int16_t* steps, const int16_t* levels, int16_t* coefficients);

// Orthonormal inverse of 64 raster coefficients plus `level` on every sample (128 for intra pictures, 0 for
// residuals). `samples` may be `coefficients` itself.
void InverseDct(const int16_t* coefficients, int16_t* samples, int level);

// Intra block: inverse transform with level 128, saturated to 0..255, stored at destination rows `stride`
// bytes apart.
void IdctPut(const int16_t* coefficients, uint8_t* destination, int32_t stride);

// Inter block: adds a residual to the prediction already in the picture, saturating to 0..255.
void AddBlock(uint8_t* destination, int32_t stride, const int16_t* residual);

}  // namespace rq43
