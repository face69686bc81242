// Every block's quantised levels for one token section. Key frames quantise the intra transform; delta
// frames choose per luma block between intra, the coded residual and no residual, and per chroma block
// between the coded residual and none, from distortion estimates. Levels are written clamped to the
// token range; the decisions themselves see the unclamped levels.
#pragma once

#include <cstdint>

namespace rq43 {

struct ResidualCoder;
struct QuantiserTables;

// Luma intra quantisation (table 0). A DC-only result whose fill value would leave 0..255 has its DC
// level pulled back to the nearest level that keeps it inside. Returns QuantiseBlock's first AC index.
uint8_t QuantiseIntraLuma(int16_t* levels, const QuantiserTables& tables, const int16_t* coefficients);

// The measures, as means of squared sample differences over the block. `residual` is the block in a
// difference plane (biased by 128) with rows `pitch` samples apart; `source` a block of the source picture.
// InterError also leaves the quantised inter levels in `levels`. IntraError takes the levels
// QuantiseIntraLuma gave: a delta frame reuses those of its key attempt.
float InterError(const QuantiserTables& tables, int tableIndex, const int16_t* coefficients,
                 const int16_t* residual, int32_t pitch, int16_t* levels);
float IntraError(const QuantiserTables& tables, const int16_t* levels, const uint8_t* source, int32_t stride);
float SkipError(const int16_t* residual, int32_t pitch);
float CodedError(const QuantiserTables& tables, int tableIndex, const int16_t* levels,
                 const int16_t* residual, int32_t pitch);

// The steps for block rows [firstRow, endRow) of luma or one block row of U (plane 0) or V (plane 1),
// writing those rows' slots of `out`, which holds the whole frame's levels.
// out: 64 levels per luma block in raster order. Also keeps the unclamped levels in coder.intraLumaLevels,
// or takes them from there when they were quantised at coder.quality.
void QuantiseKeyLumaRows(ResidualCoder& coder, int16_t* out, int32_t firstRow, int32_t endRow);
// out: 64 levels per U block, then per V block.
void QuantiseKeyChromaRow(const ResidualCoder& coder, int plane, int32_t row, int16_t* out);

// Sets bit 0 of the flags of exactly the blocks it makes intra; returns how many there are. Takes the
// intra levels from coder.intraLumaLevels when they were quantised at coder.quality, else keeps them there.
int32_t DecideLumaRows(ResidualCoder& coder, int16_t* out, int32_t firstRow, int32_t endRow);
void DecideChromaRow(const ResidualCoder& coder, int plane, int32_t row, int16_t* out);

}  // namespace rq43
