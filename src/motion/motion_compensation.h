// Half-pel motion-compensated prediction of a frame from its reference, bit-exact on both sides: every
// block comes from two source addresses A and B of the same plane, copied when they coincide and
// averaged with the truncating mean (a + b) >> 1 otherwise. Divisions truncate toward zero.
#pragma once

#include <cstdint>

#include "dsp/compensation.h"
#include "dsp/cpu_level.h"
#include "motion/motion_field.h"
#include "picture/yuv_frame.h"

namespace rq43 {

// Plane coordinates of the two sources of one predicted block.
struct SourcePair {
    int32_t ax = 0;
    int32_t ay = 0;
    int32_t bx = 0;
    int32_t by = 0;
};

// Luma sources of a block whose top-left corner lies at half-pel position (px, py).
SourcePair LumaSources(int32_t px, int32_t py);
// Chroma sources of a whole macroblock at half-pel luma position (px, py).
SourcePair ChromaSources(int32_t px, int32_t py);
// Chroma sources of a sub-block macroblock: counted from the plane origin, not from the macroblock's
// position (stored streams depend on this).
SourcePair SubBlockChromaSources(const MotionEntry quadrants[4]);

// The two-sample rule over a size x size block: plain copy when a == b, truncating mean otherwise.
void PredictTwoSample(const uint8_t* a, const uint8_t* b, int32_t sourceStride, uint8_t* out,
                      int32_t outStride, int size);

// PredictTwoSample for 16x16 and 8x8 blocks as a table of the given level's kernels, each giving exactly
// its results; ActiveCompensationKernels is the table of the level in use (dsp::ActiveCpuLevel).
const dsp::CompensationKernels& CompensationKernelsFor(dsp::CpuLevel level);
const dsp::CompensationKernels& ActiveCompensationKernels();

// True when both size x size blocks of `sources` in the plane at `plane` lie inside frame.buffer.
bool SourcesInside(const YuvFrame& frame, const uint8_t* plane, const SourcePair& sources, int size);

// True when every read the prediction of macroblock `index` with these entries needs lies inside the
// reference allocation. `entry` is the macroblock's current entry, `quadrants` its four subVectors.
bool MacroblockReadsInside(const YuvFrame& reference, uint32_t index, uint32_t mbCols,
                           const MotionEntry& entry, const MotionEntry quadrants[4]);

// MacroblockReadsInside for the first `count` macroblocks of a grid `mbCols` wide, each with its entry in
// `current` and four in `subVectors`. Short vectors, whose reads cannot leave the planes' borders, are
// passed without a check of their own.
bool AllReadsInside(const YuvFrame& reference, uint32_t mbCols, const MotionEntry* current,
                    const MotionEntry* subVectors, uint32_t count);

// Where one macroblock's prediction goes: luma 16x16 at y, chroma 8x8 at u and v.
struct PredictionOutput {
    uint8_t* y = nullptr;
    uint8_t* u = nullptr;
    uint8_t* v = nullptr;
    int32_t lumaStride = 0;
    int32_t chromaStride = 0;
};

// The predictions of the macroblock at luma (x, y) from `reference`, into `out`. Unchecked: callers keep
// the reads inside the allocation (MacroblockReadsInside).
void PredictWholeTo(const YuvFrame& reference, int32_t x, int32_t y, const MotionEntry& entry,
                    const PredictionOutput& out);
void PredictSubBlocksTo(const YuvFrame& reference, int32_t x, int32_t y, const MotionEntry quadrants[4],
                        const PredictionOutput& out);

// Predicts every macroblock of field.target from field.reference. Checks all reads first: if the frames
// do not match the field or any vector would read outside the reference allocation, nothing is written
// and the result is false. Rows of macroblocks go to field.workers when there are any.
[[nodiscard]] bool CompensateMotion(MotionField& field);

// CompensateMotion in pieces, for work that follows the prediction row by row: the checks, then each
// macroblock row once they passed. The rows write disjoint pixels.
[[nodiscard]] bool MayCompensate(const MotionField& field);
void CompensateRow(MotionField& field, uint32_t row);

// Whole-macroblock prediction of the macroblock whose top-left luma pixel is (x, y). Unchecked.
void PredictMacroblock(MotionField& field, uint32_t x, uint32_t y, MotionEntry entry);
// Four 8x8 luma quadrants with their own vectors, chroma from the plane origin. Unchecked.
void PredictSubBlocks(MotionField& field, uint32_t x, uint32_t y, uint32_t index);

}  // namespace rq43
