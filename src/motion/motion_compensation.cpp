#include "motion/motion_compensation.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/worker_split.h"

namespace rq43 {

namespace {

struct MacroblockPosition {
    int32_t x;
    int32_t y;
};

// Offset of plane pixel (x, y) from the start of the frame's allocation.
int64_t OffsetInFrame(const YuvFrame& frame, const uint8_t* plane, int32_t x, int32_t y) {
    return static_cast<int64_t>(plane - frame.buffer) + int64_t{y} * frame.stride + x;
}

bool BlockInside(const YuvFrame& frame, const uint8_t* plane, int32_t x, int32_t y, int size) {
    int64_t first = OffsetInFrame(frame, plane, x, y);
    int64_t last = first + int64_t{size - 1} * frame.stride + (size - 1);
    return first >= 0 && last < static_cast<int64_t>(frame.bufferSize);
}

const uint8_t* At(const uint8_t* plane, int32_t stride, int32_t x, int32_t y) {
    return plane + static_cast<std::ptrdiff_t>(y) * stride + x;
}

MacroblockPosition PositionOf(uint32_t index, uint32_t mbCols) {
    return {static_cast<int32_t>(index % mbCols) * 16, static_cast<int32_t>(index / mbCols) * 16};
}

// Both 8x8 chroma blocks of a macroblock, from the same sources in U and V.
void PredictChroma(const dsp::CompensationKernels& kernels, const YuvFrame& reference,
                   const SourcePair& chroma, const PredictionOutput& out) {
    int32_t stride = reference.stride;
    kernels.twoSample8(At(reference.u, stride, chroma.ax, chroma.ay),
                       At(reference.u, stride, chroma.bx, chroma.by), stride, out.u, out.chromaStride);
    kernels.twoSample8(At(reference.v, stride, chroma.ax, chroma.ay),
                       At(reference.v, stride, chroma.bx, chroma.by), stride, out.v, out.chromaStride);
}

}  // namespace

SourcePair LumaSources(int32_t px, int32_t py) {
    return {px / 2, py / 2, (px + 1) / 2, (py + 1) / 2};
}

SourcePair ChromaSources(int32_t px, int32_t py) {
    return {px / 4, py / 4, (px + 1) / 4, (py + 1) / 4};
}

SourcePair SubBlockChromaSources(const MotionEntry quadrants[4]) {
    // Two truncations: the mean first, then the quarter.
    int32_t ax = (quadrants[0].dx + quadrants[1].dx + quadrants[2].dx + quadrants[3].dx) / 4;
    int32_t ay = (quadrants[0].dy + quadrants[1].dy + quadrants[2].dy + quadrants[3].dy) / 4;
    return ChromaSources(ax, ay);
}

void PredictTwoSample(const uint8_t* a, const uint8_t* b, int32_t sourceStride, uint8_t* out,
                      int32_t outStride, int size) {
    if (a == b) {
        for (int row = 0; row < size; ++row) {
            std::memcpy(out, a, static_cast<size_t>(size));
            a += sourceStride;
            out += outStride;
        }
        return;
    }
    for (int row = 0; row < size; ++row) {
        for (int col = 0; col < size; ++col) {
            out[col] = static_cast<uint8_t>((a[col] + b[col]) >> 1);
        }
        a += sourceStride;
        b += sourceStride;
        out += outStride;
    }
}

namespace {

void TwoSample16(const uint8_t* a, const uint8_t* b, int32_t sourceStride, uint8_t* out, int32_t outStride) {
    PredictTwoSample(a, b, sourceStride, out, outStride, 16);
}
void TwoSample8(const uint8_t* a, const uint8_t* b, int32_t sourceStride, uint8_t* out, int32_t outStride) {
    PredictTwoSample(a, b, sourceStride, out, outStride, 8);
}

}  // namespace

const dsp::CompensationKernels& CompensationKernelsFor(dsp::CpuLevel level) {
    static const dsp::CompensationKernels plain{TwoSample16, TwoSample8};
#ifdef RQ43_X86_KERNELS
    static const dsp::CompensationKernels sse2{dsp::TwoSample16Sse2, dsp::TwoSample8Sse2};
    if (level >= dsp::CpuLevel::Sse2) return sse2;
#else
    (void)level;
#endif
    return plain;
}

const dsp::CompensationKernels& ActiveCompensationKernels() {
    return CompensationKernelsFor(dsp::ActiveCpuLevel());
}

bool SourcesInside(const YuvFrame& frame, const uint8_t* plane, const SourcePair& sources, int size) {
    return BlockInside(frame, plane, sources.ax, sources.ay, size) &&
           BlockInside(frame, plane, sources.bx, sources.by, size);
}

bool MacroblockReadsInside(const YuvFrame& reference, uint32_t index, uint32_t mbCols,
                           const MotionEntry& entry, const MotionEntry quadrants[4]) {
    MacroblockPosition at = PositionOf(index, mbCols);
    if (!IsSubBlockMode(entry)) {
        int32_t px = 2 * at.x + entry.dx;
        int32_t py = 2 * at.y + entry.dy;
        SourcePair chroma = ChromaSources(px, py);
        return SourcesInside(reference, reference.y, LumaSources(px, py), 16) &&
               SourcesInside(reference, reference.u, chroma, 8) &&
               SourcesInside(reference, reference.v, chroma, 8);
    }
    for (int k = 0; k < 4; ++k) {
        int32_t px = 2 * (at.x + 8 * (k % 2)) + quadrants[k].dx;
        int32_t py = 2 * (at.y + 8 * (k / 2)) + quadrants[k].dy;
        if (!SourcesInside(reference, reference.y, LumaSources(px, py), 8)) return false;
    }
    SourcePair chroma = SubBlockChromaSources(quadrants);
    return SourcesInside(reference, reference.u, chroma, 8) &&
           SourcesInside(reference, reference.v, chroma, 8);
}

namespace {

// Whether the rectangle of plane pixels from (x0, y0) to (x1, y1) lies inside the allocation: with rows
// laid downwards, its top-left pixel comes first and its bottom-right one last.
bool RectangleInside(const YuvFrame& frame, const uint8_t* plane, int32_t x0, int32_t y0, int32_t x1,
                     int32_t y1) {
    return frame.stride >= 0 && OffsetInFrame(frame, plane, x0, y0) >= 0 &&
           OffsetInFrame(frame, plane, x1, y1) < static_cast<int64_t>(frame.bufferSize);
}

int32_t Reach(const MotionEntry& entry) {
    return std::max(std::abs(int32_t{entry.dx}), std::abs(int32_t{entry.dy}));
}

// The largest vector component (in half pixels) up to which no macroblock of a columns x rows grid reads
// outside the allocation, or -1. A component d moves a luma source by at most ceil(d / 2) pixels and a
// chroma source (also the sub-block one, from the mean of four vectors) by at most ceil(d / 4), so
// margins of those sizes around the grid's planes cover every read; the reach tried is the one whose
// margins are the frame's border.
int32_t QuickReach(const YuvFrame& frame, int32_t columns, int32_t rows) {
    const int32_t reach = 2 * static_cast<int32_t>(std::min<uint32_t>(frame.border, 1u << 20));
    const int32_t luma = (reach + 1) / 2, chroma = (reach + 3) / 4;
    const bool inside =
        RectangleInside(frame, frame.y, -luma, -luma, 16 * columns - 1 + luma, 16 * rows - 1 + luma) &&
        RectangleInside(frame, frame.u, -chroma, -chroma, 8 * columns - 1 + chroma, 8 * rows - 1 + chroma) &&
        RectangleInside(frame, frame.v, -chroma, -chroma, 8 * columns - 1 + chroma, 8 * rows - 1 + chroma);
    return inside ? reach : -1;
}

// The same margins around one whole macroblock at luma (x, y) instead of the grid.
bool MarginsInside(const YuvFrame& frame, int32_t x, int32_t y, int32_t reach) {
    const int32_t luma = (reach + 1) / 2, chroma = (reach + 3) / 4;
    const int32_t cx = x / 2, cy = y / 2;
    return RectangleInside(frame, frame.y, x - luma, y - luma, x + 15 + luma, y + 15 + luma) &&
           RectangleInside(frame, frame.u, cx - chroma, cy - chroma, cx + 7 + chroma, cy + 7 + chroma) &&
           RectangleInside(frame, frame.v, cx - chroma, cy - chroma, cx + 7 + chroma, cy + 7 + chroma);
}

}  // namespace

bool AllReadsInside(const YuvFrame& reference, uint32_t mbCols, const MotionEntry* current,
                    const MotionEntry* subVectors, uint32_t count) {
    if (count == 0) return true;
    if (mbCols == 0 || mbCols > (1u << 20) || count / mbCols >= (1u << 20)) {
        for (uint32_t i = 0; i < count; ++i)
            if (!MacroblockReadsInside(reference, i, mbCols, current[i], &subVectors[4 * size_t{i}]))
                return false;
        return true;
    }
    const int32_t quick = QuickReach(reference, static_cast<int32_t>(mbCols),
                                     static_cast<int32_t>((count + mbCols - 1) / mbCols));
    for (uint32_t i = 0; i < count; ++i) {
        const MotionEntry* quadrants = &subVectors[4 * size_t{i}];
        const bool subBlocks = IsSubBlockMode(current[i]);
        const int32_t reach = subBlocks ? std::max(std::max(Reach(quadrants[0]), Reach(quadrants[1])),
                                                   std::max(Reach(quadrants[2]), Reach(quadrants[3])))
                                        : Reach(current[i]);
        if (reach <= quick) continue;
        // Longer vectors: the margins of this macroblock alone (its sub-block chroma reads lie elsewhere),
        // then the reads themselves.
        const MacroblockPosition at = PositionOf(i, mbCols);
        if (!subBlocks && MarginsInside(reference, at.x, at.y, reach)) continue;
        if (!MacroblockReadsInside(reference, i, mbCols, current[i], quadrants)) return false;
    }
    return true;
}

void PredictWholeTo(const YuvFrame& reference, int32_t x, int32_t y, const MotionEntry& entry,
                    const PredictionOutput& out) {
    const dsp::CompensationKernels& kernels = ActiveCompensationKernels();
    int32_t stride = reference.stride;
    int32_t px = 2 * x + entry.dx;
    int32_t py = 2 * y + entry.dy;
    SourcePair luma = LumaSources(px, py);
    kernels.twoSample16(At(reference.y, stride, luma.ax, luma.ay), At(reference.y, stride, luma.bx, luma.by),
                        stride, out.y, out.lumaStride);
    PredictChroma(kernels, reference, ChromaSources(px, py), out);
}

void PredictSubBlocksTo(const YuvFrame& reference, int32_t x, int32_t y, const MotionEntry quadrants[4],
                        const PredictionOutput& out) {
    const dsp::CompensationKernels& kernels = ActiveCompensationKernels();
    int32_t stride = reference.stride;
    for (int k = 0; k < 4; ++k) {
        int32_t qx = 8 * (k % 2);
        int32_t qy = 8 * (k / 2);
        SourcePair luma = LumaSources(2 * (x + qx) + quadrants[k].dx, 2 * (y + qy) + quadrants[k].dy);
        kernels.twoSample8(At(reference.y, stride, luma.ax, luma.ay),
                           At(reference.y, stride, luma.bx, luma.by), stride,
                           out.y + static_cast<std::ptrdiff_t>(qy) * out.lumaStride + qx, out.lumaStride);
    }
    PredictChroma(kernels, reference, SubBlockChromaSources(quadrants), out);
}

namespace {

PredictionOutput TargetOutput(YuvFrame& target, int32_t x, int32_t y) {
    int32_t stride = target.stride;
    std::ptrdiff_t chroma = static_cast<std::ptrdiff_t>(y / 2) * stride + x / 2;
    return {target.y + static_cast<std::ptrdiff_t>(y) * stride + x, target.u + chroma, target.v + chroma,
            stride, stride};
}

bool FramesMatchField(const MotionField& field) {
    const YuvFrame* target = field.target;
    const YuvFrame* reference = field.reference;
    if (target == nullptr || reference == nullptr || target == reference) return false;
    if (target->allocated == 0 || reference->allocated == 0) return false;
    return target->width == field.width && target->height == field.height && target->stride == field.stride &&
           reference->width == field.width && reference->height == field.height &&
           reference->stride == field.stride && static_cast<int32_t>(reference->border) == field.border &&
           static_cast<int32_t>(target->border) == field.border &&
           field.current.size() == field.MacroblockCount() &&
           field.subVectors.size() == 4 * size_t{field.MacroblockCount()};
}

}  // namespace

bool MayCompensate(const MotionField& field) {
    return FramesMatchField(field) && AllReadsInside(*field.reference, field.mbCols, field.current.data(),
                                                     field.subVectors.data(), field.MacroblockCount());
}

void CompensateRow(MotionField& field, uint32_t row) {
    for (uint32_t col = 0, i = row * field.mbCols; col < field.mbCols; ++col, ++i) {
        if (IsSubBlockMode(field.current[i])) {
            PredictSubBlocks(field, col * 16, row * 16, i);
        } else {
            PredictMacroblock(field, col * 16, row * 16, field.current[i]);
        }
    }
}

bool CompensateMotion(MotionField& field) {
    if (!MayCompensate(field)) return false;
    // Each macroblock writes only its own pixels of the target, so the workers may share the rows.
    platform::RunUnits(field.workers, field.mbRows, [&](uint32_t row, int) { CompensateRow(field, row); });
    return true;
}

void PredictMacroblock(MotionField& field, uint32_t x, uint32_t y, MotionEntry entry) {
    int32_t ix = static_cast<int32_t>(x);
    int32_t iy = static_cast<int32_t>(y);
    PredictWholeTo(*field.reference, ix, iy, entry, TargetOutput(*field.target, ix, iy));
}

void PredictSubBlocks(MotionField& field, uint32_t x, uint32_t y, uint32_t index) {
    int32_t ix = static_cast<int32_t>(x);
    int32_t iy = static_cast<int32_t>(y);
    PredictSubBlocksTo(*field.reference, ix, iy, &field.subVectors[4 * size_t{index}],
                       TargetOutput(*field.target, ix, iy));
}

}  // namespace rq43
