#include "transform/transform_frame.h"

#include <climits>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/worker_split.h"
#include "transform/fixed_point.h"
#include "transform/transform_kernels.h"

namespace rq43 {
namespace {

constexpr ptrdiff_t kInterHalf = 64;  // inter coefficients follow the intra ones in a block's slot

// One plane's blocks and where their pixels and differences live.
struct PlaneBlocks {
    int16_t* coefficients;
    int32_t across;
    const uint8_t* pixels;  // source plane, rows `stride` apart
    int32_t stride;
    const int16_t* differences;  // difference plane, rows `pitch` apart; null in key frames
    int32_t pitch;
};

// The block loads keep to their own buffers (restrict), so that the compiler makes them vector code.
void LoadDifferences(int16_t* __restrict slot, const int16_t* __restrict samples, int32_t pitch) {
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) slot[8 * r + c] = Wrap16(int32_t{samples[r * pitch + c]} - 128);
}

void LoadPixels(int16_t* __restrict slot, const uint8_t* __restrict pixels, int32_t stride) {
#if defined(__SSE2__)
    // Spelled out: the compiler's own vector code for it takes twice the instructions.
    const __m128i zero = _mm_setzero_si128(), bias = _mm_set1_epi16(128);
    for (int r = 0; r < 8; ++r) {
        const __m128i row = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixels + ptrdiff_t{r} * stride));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(slot + 8 * r),
                         _mm_sub_epi16(_mm_unpacklo_epi8(row, zero), bias));
    }
#else
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) slot[8 * r + c] = static_cast<int16_t>(pixels[r * stride + c] - 128);
#endif
}

// The intra pass transforms source pixels; the inter pass transforms the difference samples into the
// slot's second half.
void TransformRow(const PlaneBlocks& plane, int32_t row, bool inter) {
    const auto forwardDct = ActiveTransformKernels().forwardDct;
    for (int32_t column = 0; column < plane.across; ++column) {
        const ptrdiff_t block = ptrdiff_t{row} * plane.across + column;
        int16_t* slot = plane.coefficients + block * kCoefficientsPerBlock + (inter ? kInterHalf : 0);
        if (inter)
            LoadDifferences(slot, plane.differences + ptrdiff_t{8} * row * plane.pitch + 8 * column,
                            plane.pitch);
        else
            LoadPixels(slot, plane.pixels + ptrdiff_t{8} * row * plane.stride + 8 * column, plane.stride);
        forwardDct(slot);
    }
}

void Size(FrameCoefficients& coefficients, int32_t width, int32_t height) {
    coefficients.blocksAcross = width / 8;
    coefficients.blocksDown = height / 8;
    coefficients.chromaBlocksAcross = width / 16;
    coefficients.chromaBlocksDown = height / 16;
    const auto lumaBlocks = static_cast<size_t>(width / 8) * static_cast<size_t>(height / 8);
    // resize keeps the contents of arrays that do not change size: nothing is cleared.
    coefficients.y.resize(lumaBlocks * kCoefficientsPerBlock);
    coefficients.u.resize(lumaBlocks / 4 * kCoefficientsPerBlock);
    coefficients.v.resize(lumaBlocks / 4 * kCoefficientsPerBlock);
}

}  // namespace

bool TransformFrame(const YuvFrame& source, const DifferenceFrame* difference,
                    FrameCoefficients& coefficients, platform::WorkerPair* workers) {
    if (source.y == nullptr || source.width == 0 || source.height == 0 || source.width % 16 != 0 ||
        source.height % 16 != 0 || source.width > INT32_MAX || source.height > INT32_MAX)
        return false;
    const auto width = static_cast<int32_t>(source.width), height = static_cast<int32_t>(source.height);
    if (difference != nullptr &&
        (difference->y == nullptr || difference->width != width || difference->height != height))
        return false;
    Size(coefficients, width, height);

    auto plane = [&](std::vector<int16_t>& store, int32_t across, const uint8_t* pixels,
                     int16_t* DifferenceFrame::*differences) {
        return PlaneBlocks{
            store.data(), across, pixels, source.stride, difference ? difference->*differences : nullptr,
            width};
    };
    const PlaneBlocks planes[3] = {
        plane(coefficients.y, coefficients.blocksAcross, source.y, &DifferenceFrame::y),
        plane(coefficients.u, coefficients.chromaBlocksAcross, source.u, &DifferenceFrame::u),
        plane(coefficients.v, coefficients.chromaBlocksAcross, source.v, &DifferenceFrame::v)};

    // Units: the luma block rows, then the chroma block rows of U and V together.
    const auto lumaRows = static_cast<uint32_t>(coefficients.blocksDown);
    const auto units = lumaRows + static_cast<uint32_t>(coefficients.chromaBlocksDown);
    platform::RunUnits(workers, units, [&](uint32_t unit, int) {
        for (bool inter : {false, true}) {
            if (inter && difference == nullptr) break;
            if (unit < lumaRows) {
                TransformRow(planes[0], static_cast<int32_t>(unit), inter);
            } else {
                TransformRow(planes[1], static_cast<int32_t>(unit - lumaRows), inter);
                TransformRow(planes[2], static_cast<int32_t>(unit - lumaRows), inter);
            }
        }
    });
    return true;
}

}  // namespace rq43
