// Per-macroblock motion of one frame: a vector and mode per 16x16 macroblock, four vectors per macroblock
// for its 8x8 quadrants, and the previous frame's vectors as temporal predictors. Vectors are in half luma
// pixels; encoder vectors lie within -64..64 horizontally and -32..32 vertically.
#pragma once

#include <cstdint>
#include <vector>

#include "motion/block_sums.h"
#include "picture/yuv_frame.h"

namespace rq43 {

namespace platform {
class WorkerPair;
}

struct MotionEntry {
    int16_t dx = 0;
    int16_t dy = 0;
    // Mean squared error per pixel of the chosen prediction, or exactly kSubBlockMarker for a macroblock
    // in sub-block mode.
    float cost = 0.0f;
};
static_assert(sizeof(MotionEntry) == 8);

inline constexpr float kSubBlockMarker = -1.0f;

// -1.0 is the only negative cost ever stored, so the float test and the sign-bit test agree.
inline bool IsSubBlockMode(const MotionEntry& entry) {
    return entry.cost < 0.0f;
}

struct MotionField {
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t stride = 0;  // width + 2 * border of the frames worked on
    int32_t border = 0;
    uint32_t mbCols = 0;
    uint32_t mbRows = 0;
    // Encoder: macroblocks the last estimation put in sub-block mode. Decoder: 1 after a sub-block method.
    int32_t subBlockCount = 0;
    platform::WorkerPair* workers = nullptr;  // estimation's workers; null: the caller's thread alone
    uint8_t fastSearch = 0;                   // the "Fast Search" setting
    // Per-frame state: the frame last decoded by DecodeMotionSection used a sub-block method. Read by
    // CarryMotionVectors only.
    uint8_t subBlockMotion = 0;
    // The "SubBlock Motion" setting. Kept apart from the per-frame flag so that a frame without sub-block
    // macroblocks does not switch sub-block search off for the rest of the sequence.
    uint8_t subBlockSearch = 0;

    std::vector<MotionEntry> current;     // mbCols * mbRows, raster order
    std::vector<MotionEntry> subVectors;  // 4 per macroblock: top-left, top-right, bottom-left, bottom-right
    std::vector<MotionEntry> previous;    // mbCols * mbRows: last frame's vectors, as predictors

    BlockSums referenceSums;  // encoder, full search: of the reference luma, kept across frames
    // Where DecodeMotionSection decodes a section before it swaps it in; kept, as allocating them anew
    // for every frame brought their pages in anew too.
    std::vector<MotionEntry> decodedCurrent;
    std::vector<MotionEntry> decodedSubVectors;

    YuvFrame* target = nullptr;           // borrowed: the picture being coded or predicted
    const YuvFrame* reference = nullptr;  // borrowed: the picture predictions are taken from

    uint32_t MacroblockCount() const { return mbCols * mbRows; }
};

// Keeps every vector when width, height and border are unchanged; otherwise reallocates all three arrays
// zero-filled. Flags, subBlockCount, target and reference are left alone.
void AllocateMotionField(MotionField& field, uint32_t width, uint32_t height, int32_t border);

// current -> previous. After a frame that carried sub-block vectors (subBlockMotion), each sub-block
// macroblock's predictor becomes the mean of its quadrant vectors, rounded toward zero, marker kept.
void CarryMotionVectors(MotionField& field);

// Zero vectors and predictors after a key frame; subVectors keep their contents.
void ClearMotionVectors(MotionField& field);

}  // namespace rq43
