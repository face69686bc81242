#include "transform/transform_frame.h"

#include <algorithm>
#include <cstddef>

#include "platform/worker_split.h"
#include "residual/residual_coder.h"
#include "transform/fixed_point.h"
#include "transform/transform_kernels.h"

namespace rq43 {
namespace {

constexpr ptrdiff_t kInterHalf = 64;  // inter coefficients follow the intra ones in a block's slot

// One plane's blocks and where their pixels and differences live.
struct PlaneBlocks {
    int16_t* coefficients;
    uint8_t* flags;
    int32_t across;
    const uint8_t* pixels;  // source plane, rows `stride` apart
    int32_t stride;
    const int16_t* differences;  // difference plane, rows `pitch` apart; null in key frames
    int32_t pitch;
};

// The intra pass transforms source pixels and marks the block intra; the inter pass transforms the
// difference samples into the slot's second half and marks the block inter.
void TransformRows(const PlaneBlocks& plane, int32_t firstRow, int32_t endRow, bool inter) {
    const auto forwardDct = ActiveTransformKernels().forwardDct;
    for (int32_t row = firstRow; row < endRow; ++row) {
        for (int32_t column = 0; column < plane.across; ++column) {
            const ptrdiff_t block = ptrdiff_t{row} * plane.across + column;
            int16_t* slot = plane.coefficients + block * kCoefficientsPerBlock + (inter ? kInterHalf : 0);
            if (inter) {
                const int16_t* samples = plane.differences + ptrdiff_t{8} * row * plane.pitch + 8 * column;
                for (int r = 0; r < 8; ++r)
                    for (int c = 0; c < 8; ++c)
                        slot[8 * r + c] = Wrap16(int32_t{samples[r * plane.pitch + c]} - 128);
                plane.flags[block] &= static_cast<uint8_t>(~kBlockFlagIntra);
            } else {
                const uint8_t* pixels = plane.pixels + ptrdiff_t{8} * row * plane.stride + 8 * column;
                for (int r = 0; r < 8; ++r)
                    for (int c = 0; c < 8; ++c)
                        slot[8 * r + c] = static_cast<int16_t>(pixels[r * plane.stride + c] - 128);
                plane.flags[block] |= kBlockFlagIntra;
            }
            forwardDct(slot);
        }
    }
}

// Worker k takes half the luma block rows and the chroma block rows of the same half of the picture; an
// odd chroma row count gives the extra row to the first worker.
struct RowSplit {
    int32_t lumaBegin, lumaEnd, chromaBegin, chromaEnd;
};

RowSplit SplitRows(const ResidualCoder& coder, int half) {
    const int32_t lumaHalf = coder.blocksDown / 2;
    const int32_t chromaFirst = (coder.chromaBlocksDown + 1) / 2;
    if (half == 0) return {0, lumaHalf, 0, chromaFirst};
    return {lumaHalf, coder.blocksDown, chromaFirst, coder.chromaBlocksDown};
}

}  // namespace

bool TransformFrame(const YuvFrame& source, ResidualCoder& coder, const DifferenceFrame* difference,
                    const YuvFrame* reference) {
    if (source.y == nullptr || source.width > INT32_MAX || source.height > INT32_MAX ||
        source.border > INT32_MAX)
        return false;
    const auto width = static_cast<int32_t>(source.width), height = static_cast<int32_t>(source.height);
    if (difference != nullptr &&
        (difference->y == nullptr || difference->width != width || difference->height != height))
        return false;
    if (!SetupResidualCoder(width, coder, static_cast<int32_t>(source.border), height)) return false;
    coder.source = &source;
    coder.residualPlanes = difference;
    coder.reference = reference;

    std::fill(coder.yCoefficients.begin(), coder.yCoefficients.end(), int16_t{0});
    std::fill(coder.uCoefficients.begin(), coder.uCoefficients.end(), int16_t{0});
    std::fill(coder.vCoefficients.begin(), coder.vCoefficients.end(), int16_t{0});

    auto plane = [&](std::vector<int16_t>& coefficients, std::vector<uint8_t>& flags, int32_t across,
                     const uint8_t* pixels, int16_t* DifferenceFrame::*differences) {
        return PlaneBlocks{coefficients.data(),
                           flags.data(),
                           across,
                           pixels,
                           source.stride,
                           difference ? difference->*differences : nullptr,
                           width};
    };
    const PlaneBlocks planes[3] = {
        plane(coder.yCoefficients, coder.yFlags, coder.blocksAcross, source.y, &DifferenceFrame::y),
        plane(coder.uCoefficients, coder.uFlags, coder.chromaBlocksAcross, source.u, &DifferenceFrame::u),
        plane(coder.vCoefficients, coder.vFlags, coder.chromaBlocksAcross, source.v, &DifferenceFrame::v)};

    // The intra pass, then (delta frames) the inter pass, each split over the workers.
    for (bool inter : {false, true}) {
        if (inter && difference == nullptr) break;
        platform::RunHalves(coder.useTwoThreads != 0, [&](int half) {
            const RowSplit rows = SplitRows(coder, half);
            TransformRows(planes[0], rows.lumaBegin, rows.lumaEnd, inter);
            TransformRows(planes[1], rows.chromaBegin, rows.chromaEnd, inter);
            TransformRows(planes[2], rows.chromaBegin, rows.chromaEnd, inter);
        });
    }
    return true;
}

void ClearIntraFlags(ResidualCoder& coder) {
    for (std::vector<uint8_t>* flags : {&coder.yFlags, &coder.uFlags, &coder.vFlags}) {
        for (uint8_t& flag : *flags) flag &= static_cast<uint8_t>(~kBlockFlagIntra);
    }
}

}  // namespace rq43
