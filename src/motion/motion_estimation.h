// The encoder's motion search: for every macroblock of the source the half-pel vector into the previous
// reconstruction with the least luma squared error, optionally four 8x8 quadrant vectors, and the frame's
// prediction differences. Two workers share the frame's macroblock rows; the result is the same with one
// worker or two.
#pragma once

#include <cstdint>

#include "motion/block_sums.h"
#include "motion/motion_field.h"
#include "picture/difference_frame.h"
#include "picture/yuv_frame.h"

namespace rq43 {

// Fills field.current, field.subVectors and field.subBlockCount, then `difference`. Preconditions: the
// reference's borders are extended; `current` holds the previous frame's vectors (carried) or zeros (after
// a key frame). Uses field.fastSearch, field.subBlockSearch and field.workers. False, with nothing
// written, when source, reference and difference frame do not share one size and border.
[[nodiscard]] bool EstimateMotion(YuvFrame& source, MotionField& field, const YuvFrame& reference,
                                  DifferenceFrame& difference);

// Integer positions the block at luma (x, y) may be measured at: the 16x16 block plus one column and row
// for half-pel stay inside the bordered reference, at most 32 columns and 16 rows away. Inclusive.
struct SearchWindow {
    int32_t xlo = 0;
    int32_t xhi = 0;
    int32_t ylo = 0;
    int32_t yhi = 0;
};
SearchWindow MacroblockSearchWindow(const MotionField& field, int32_t x, int32_t y);

// The per-macroblock steps, for macroblock column `col` and row `row` of field.target against
// field.reference. Each writes the macroblock's current entry and returns its cost.
// With `bounds` (block sums of field.reference), candidates that cannot win are not measured and the
// others are measured together; the result is the same as without, where each is measured in turn.
float SearchMacroblock(MotionField& field, uint32_t col, uint32_t row, const BlockSums* bounds = nullptr);
float FastSearchMacroblock(MotionField& field, uint32_t col, uint32_t row);
// Refines the four quadrant vectors from the macroblock's current vector; returns their mean cost.
float SearchSubBlocks(MotionField& field, uint32_t col, uint32_t row);

// Whether the macroblock takes sub-block mode given its whole cost and the mean quadrant cost.
bool PrefersSubBlocks(float cost, float subCost);

// Whether the sub-block chroma of these quadrant vectors, taken from the plane origin, stays inside the
// chroma border. The encoder never chooses sub-block mode otherwise.
bool SubBlockChromaInsideBorder(const MotionField& field, const MotionEntry quadrants[4]);

// source - prediction + 128 for every macroblock of rows first, first + step, ... into `difference`.
void BuildDifferenceRows(const MotionField& field, DifferenceFrame& difference, uint32_t firstRow,
                         uint32_t rowStep);

}  // namespace rq43
