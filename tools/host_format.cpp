#include "host_format.h"

namespace rq43::cli {

void UyvyToPicture420(const uint8_t* uyvy, int width, int height, Picture420& picture) {
    if (picture.width != width || picture.height != height) picture.Allocate(width, height);
    const size_t pitch = 2 * static_cast<size_t>(width);
    const int chromaWidth = picture.ChromaWidth();
    for (int row = 0; row < height; ++row) {
        const uint8_t* line = uyvy + static_cast<size_t>(row) * pitch;
        uint8_t* luma = &picture.y[static_cast<size_t>(row) * static_cast<size_t>(width)];
        for (int x = 0; x < width; ++x) luma[x] = line[2 * x + 1];
        if (row % 2 != 0) continue;
        size_t chromaRow = static_cast<size_t>(row / 2) * static_cast<size_t>(chromaWidth);
        for (int x = 0; x < chromaWidth; ++x) {
            picture.u[chromaRow + static_cast<size_t>(x)] = line[4 * x];
            picture.v[chromaRow + static_cast<size_t>(x)] = line[4 * x + 2];
        }
    }
}

}  // namespace rq43::cli
