#include "picture/prefilter.h"

#include <algorithm>
#include <array>

#include "picture/picture_kernels.h"

namespace rq43 {
namespace {

constexpr int32_t kLargestDifference = 255;

}  // namespace

// psi depends only on the integer difference, so each pass looks it up instead of dividing four times
// per pixel; the values are the same single-precision results.
PsiTable BuildPsiTable(int32_t strength) {
    const float d = (1.0f / static_cast<float>(strength)) * 2.0f;
    PsiTable psi{};
    for (int32_t x = -kLargestDifference; x <= kLargestDifference; ++x) {
        const auto difference = static_cast<float>(x);
        const float scaled = difference * d;
        const float denominator = scaled * scaled + 1.0f;
        psi[static_cast<size_t>(x + kLargestDifference)] = difference / denominator;
    }
    return psi;
}

void PrefilterRow(uint8_t* above, const uint8_t* row, const uint8_t* below, uint32_t width, const float* psi,
                  uint8_t* pending) {
    const float* psiAt = psi + kLargestDifference;
    for (uint32_t x = 0; x < width; ++x) {
        const int32_t p = row[x];
        float sum = 0.0f;
        if (above != nullptr) sum += psiAt[above[x] - p];
        if (below != nullptr) sum += psiAt[below[x] - p];
        if (x + 1 < width) sum += psiAt[row[x + 1] - p];
        if (x > 0) sum += psiAt[row[x - 1] - p];
        const auto step = static_cast<int32_t>(0.5f * sum + 0.49f);
        // The row above has served as a neighbour at this column; it may now take its new value.
        if (above != nullptr) above[x] = pending[x];
        pending[x] = static_cast<uint8_t>(std::clamp(p + step, 0, 255));
    }
}

void PrefilterPass(uint8_t* plane, ptrdiff_t stride, uint32_t width, uint32_t height, const float* psi,
                   uint8_t* lineBuffer, dsp::PrefilterRowFn prefilterRow) {
    for (uint32_t r = 0; r < height; ++r) {
        uint8_t* row = plane + static_cast<ptrdiff_t>(r) * stride;
        uint8_t* above = r > 0 ? row - stride : nullptr;
        const uint8_t* below = r + 1 < height ? row + stride : nullptr;
        prefilterRow(above, row, below, width, psi, lineBuffer);
    }
    if (height > 0)
        std::copy(lineBuffer, lineBuffer + width, plane + static_cast<ptrdiff_t>(height - 1) * stride);
}

void PrefilterPlane(int32_t passes, YuvFrame& frame, uint8_t* plane, int32_t strength, uint32_t width,
                    uint32_t height) {
    if (strength == 0 || passes <= 0 || !frame.allocated || width > frame.width || height > frame.height)
        return;
    const PsiTable psi = BuildPsiTable(strength);
    const dsp::PrefilterRowFn prefilterRow = ActivePictureKernels().prefilterRow;
    for (int32_t pass = 0; pass < passes; ++pass) {
        PrefilterPass(plane, frame.stride, width, height, psi.data(), frame.lineBuffer, prefilterRow);
    }
}

void PrefilterFrame(YuvFrame& frame, int32_t strength, int32_t iterations) {
    if (strength == 0) return;
    const int32_t chromaPasses = (iterations + 1) / 2;
    PrefilterPlane(iterations, frame, frame.y, strength, frame.width, frame.height);
    PrefilterPlane(chromaPasses, frame, frame.u, strength, frame.width / 2, frame.height / 2);
    PrefilterPlane(chromaPasses, frame, frame.v, strength, frame.width / 2, frame.height / 2);
}

}  // namespace rq43
