// Quantiser steps and their reciprocals, scaled from fixed base tables by a frame's quality, and the
// quantiser itself. The tables belong to whoever builds them (one set per coder), so concurrent coders
// at different qualities never see each other's steps.
#pragma once

#include <cstdint>

namespace rq43 {

enum QuantiserTableIndex : int {
    kIntraLumaTable = 0,
    kInterLumaTable = 1,
    kIntraChromaTable = 2,
    kInterChromaTable = 3
};

struct QuantiserTables {
    int16_t quantiserTable[4][64];   // steps (and dequantiser multipliers), raster order
    int16_t reciprocalTable[4][64];  // 16384 / (8 * step); 0 for steps above 2048
};

// quality: the coder's value (0..100 from the encoder; a section's unsigned quality byte in the decoder,
// where anything above 100 means the finest steps).
void BuildQuantiserTables(int32_t quality, QuantiserTables& tables);

// Quantises 64 raster coefficients into 64 zigzag levels with one table's raster reciprocals. Returns the
// smallest raster index 1..63 with a non-zero level, or 0 when every AC level is zero.
uint8_t QuantiseBlock(int16_t* out, const int16_t* reciprocals, const int16_t* in);

}  // namespace rq43
