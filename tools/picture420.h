// A planar 4:2:0 picture, top row first: the codec's own planes as the tools see them (y4m, MD5, PSNR).
#pragma once

#include <cstdint>
#include <vector>

namespace rq43::cli {

struct Picture420 {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, u, v;

    int ChromaWidth() const { return (width + 1) / 2; }
    int ChromaHeight() const { return (height + 1) / 2; }
    void Allocate(int w, int h);
    // Whether the planes are those of a w x h picture (not so for one moved from, which keeps its size).
    bool Holds(int w, int h) const;
    // Black in studio range.
    void Clear();
};

}  // namespace rq43::cli
