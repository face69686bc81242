#include "transform/transform_frame.h"

#include <climits>
#include <cstddef>

#include "platform/worker_split.h"
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

// The intra pass transforms source pixels; the inter pass transforms the difference samples into the
// slot's second half.
void TransformRow(const PlaneBlocks& plane, int32_t row, bool inter) {
    const dsp::TransformKernels& kernels = ActiveTransformKernels();
    int16_t* slots =
        plane.coefficients + ptrdiff_t{row} * plane.across * kCoefficientsPerBlock + (inter ? kInterHalf : 0);
    if (inter)
        kernels.forwardDctOfDifferences(plane.differences + ptrdiff_t{8} * row * plane.pitch, plane.pitch,
                                        plane.across, slots, kCoefficientsPerBlock);
    else
        kernels.forwardDctOfPixels(plane.pixels + ptrdiff_t{8} * row * plane.stride, plane.stride,
                                   plane.across, slots, kCoefficientsPerBlock);
}

}  // namespace

void SizeFrameCoefficients(FrameCoefficients& coefficients, int32_t width, int32_t height) {
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

bool TransformFrame(const YuvFrame& source, const DifferenceFrame* difference,
                    FrameCoefficients& coefficients, platform::WorkerPair* workers) {
    if (source.y == nullptr || source.width == 0 || source.height == 0 || source.width % 16 != 0 ||
        source.height % 16 != 0 || source.width > INT32_MAX || source.height > INT32_MAX)
        return false;
    const auto width = static_cast<int32_t>(source.width), height = static_cast<int32_t>(source.height);
    if (difference != nullptr &&
        (difference->y == nullptr || difference->width != width || difference->height != height))
        return false;
    SizeFrameCoefficients(coefficients, width, height);

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

    // Units: macroblock rows (two luma block rows and a chroma one of U and V), in bands as the
    // differences were built, so that a worker mostly transforms rows it has just written.
    const auto units = static_cast<uint32_t>(coefficients.chromaBlocksDown);
    platform::RunBands(workers, units, [&](uint32_t unit, int) {
        const auto row = static_cast<int32_t>(unit);
        for (bool inter : {false, true}) {
            if (inter && difference == nullptr) break;
            TransformRow(planes[0], 2 * row, inter);
            TransformRow(planes[0], 2 * row + 1, inter);
            TransformRow(planes[1], row, inter);
            TransformRow(planes[2], row, inter);
        }
    });
    return true;
}

}  // namespace rq43
