#include "host_format.h"

#include "picture/picture_kernels.h"

namespace rq43::cli {

void UyvyToPicture420(const uint8_t* uyvy, int width, int height, Picture420& picture) {
    if (!picture.Holds(width, height)) picture.Allocate(width, height);
    UyvyToPlanes(uyvy, width, height, picture.y.data(), picture.u.data(), picture.v.data());
}

void UyvyToPlanes(const uint8_t* uyvy, int width, int height, uint8_t* y, uint8_t* u, uint8_t* v) {
    if (width <= 0 || height <= 0) return;
    // The codec's byte-split kernel: U, V, U, V ... of a row on one side, its luma on the other, then the
    // chroma of every other row split once more.
    const dsp::PictureKernels& kernels = ActivePictureKernels();
    const auto w = static_cast<size_t>(width);
    const size_t chromaWidth = (w + 1) / 2;
    std::vector<uint8_t> chroma(w);
    for (int row = 0; row < height; ++row) {
        const uint8_t* line = uyvy + static_cast<size_t>(row) * 2 * w;
        kernels.deinterleaveRow(line, static_cast<uint32_t>(width), chroma.data(),
                                y + static_cast<size_t>(row) * w);
        if (row % 2 != 0) continue;
        uint8_t* uRow = u + static_cast<size_t>(row / 2) * chromaWidth;
        uint8_t* vRow = v + static_cast<size_t>(row / 2) * chromaWidth;
        kernels.deinterleaveRow(chroma.data(), static_cast<uint32_t>(width / 2), uRow, vRow);
        if (width % 2 != 0) {  // a last pixel without its pair has a U and no V of its own
            uRow[w / 2] = chroma[w - 1];
            vRow[w / 2] = w > 1 ? vRow[w / 2 - 1] : 128;
        }
    }
}

}  // namespace rq43::cli
