// Conversion of a decoded YuvFrame into the host's UYVY, YUY2, RGB24 or RGB32 picture. `destination`
// points at the row that receives frame row 0 (the bottom row) and `pitch` is the signed byte distance
// to the row that receives frame row 1. Chroma is replicated over each 2 x 2 block of pixels. Only the
// picture area of the frame is read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/yuv_frame.h"

namespace rq43 {

void ConvertYuvToUyvy(uint8_t* destination, const YuvFrame& frame, ptrdiff_t pitch);
void ConvertYuvToYuy2(uint8_t* destination, const YuvFrame& frame, ptrdiff_t pitch);
// bytesPerPixel 3 (B, G, R) or 4 (B, G, R and a fourth byte left as it was); any other value writes
// nothing.
void ConvertYuvToRgb(const YuvFrame& frame, uint8_t* destination, int32_t bytesPerPixel, ptrdiff_t pitch);

}  // namespace rq43
