// A planar 4:2:0 picture in one allocation, with a border of replicated edge pixels (16 luma, 8 chroma)
// so that motion reads never need clipping. All planes share one stride; U and V lie side by side in the
// same rows; row 0 is the bottom row of the displayed picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rq43 {

struct YuvFrame {
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t stride = 0;   // width + 2 * border, for every plane
    uint32_t border = 0;  // luma border; chroma border is border / 2
    uint8_t* buffer = nullptr;
    uint8_t* y = nullptr;
    uint8_t* u = nullptr;
    uint8_t* v = nullptr;
    uint8_t* lineBuffer = nullptr;  // max(width, height) + 8 bytes of scratch
    uint8_t allocated = 0;
    size_t bufferSize = 0;  // bytes at buffer, for bounds checks of untrusted reads
    // Full-resolution chroma planes of the input converters, owned by the frame so that converting a
    // sequence of pictures allocates once; grown on first use, freed with the frame.
    std::vector<uint8_t> conversionScratch;

    YuvFrame() = default;
    ~YuvFrame();
    YuvFrame(const YuvFrame&) = delete;
    YuvFrame& operator=(const YuvFrame&) = delete;
};

// Keeps the buffers (and pixels) when width, height and border are unchanged; otherwise reallocates,
// zero-filled, so every byte a motion read can reach is defined. Throws std::bad_alloc on failure,
// leaving the frame released.
void AllocateFrame(YuvFrame& frame, uint32_t width, uint32_t height, uint32_t border);
// Frees the buffers and the conversion scratch and zeroes every field; the destructor calls it.
void ReleaseFrame(YuvFrame& frame);

// Fills the whole border of all three planes from the edge pixels.
void ExtendBorders(YuvFrame& frame);

}  // namespace rq43
