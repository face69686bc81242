// Cross-block prediction of eight low-frequency level positions within one plane. Levels of one position
// lie 64 values apart (one block each), blocks in raster order. Sums and differences wrap at 16 bits.
#pragma once

#include <cstdint>

#include "dsp/cpu_level.h"
#include "dsp/prediction.h"

namespace rq43 {

// Zigzag positions predicted, in the order of the section's 2-bit mode fields.
inline constexpr int kPredictedPositionCount = 8;
inline constexpr uint8_t kPredictedPositions[kPredictedPositionCount] = {0, 1, 2, 3, 5, 6, 9, 10};

enum PredictionMode : uint8_t { kPredictNone = 0, kPredictMedian = 1, kPredictLeft = 2, kPredictUp = 3 };

// Picks the cheapest mode for the plane's levels at one position and, unless it is kPredictNone, replaces
// the levels by the prediction differences. A mode whose differences would leave the token range
// (+-kLargestLevel) is refused in favour of kPredictNone, leaving the levels unpredicted.
// scratch: 2 * blocksAcross values.
PredictionMode ChoosePredictionMode(int16_t* levels, int32_t blocksAcross, int32_t blocksDown,
                                    int16_t* scratch);

// The measure of all predicted positions at once, per processor level (the plain one is the reference).
dsp::MeasureModesKernel MeasureModesFor(dsp::CpuLevel level);

// ChoosePredictionMode for every predicted position of a plane (`levels` at its first block), with the
// given measure (null: the active level's). Returns the section's 2-bit mode fields. lanes: room for 8
// values per block.
uint16_t ChoosePredictionModes(int16_t* levels, int32_t blocksAcross, int32_t blocksDown, int16_t* lanes,
                               dsp::MeasureModesKernel measure = nullptr);

// Decoder, first block row: each block's level += the restored level of its left neighbour.
void UndoFirstRowPrediction(int32_t count, int16_t* current);

// Decoder, later block rows: adds the prediction from the restored row `above` and the restored left
// neighbour to `current`, both pointing at the position in the row's first block.
void PredictCoefficientRow(int32_t count, const int16_t* above, int16_t* current, uint8_t mode);

}  // namespace rq43
