// Conversion of the host's RGB24, RGB32, YUY2 and UYVY pictures into a YuvFrame. `source` points at the
// pixels that become row 0 of the frame (its bottom row) and `pitch` is the signed byte distance to the
// source row that becomes row 1; rows are exactly width * bytes-per-pixel long. Each converter writes
// the whole picture area of all three planes (not the border) and uses the frame's lineBuffer and
// conversionScratch, so two conversions into one frame must not overlap.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/yuv_frame.h"

namespace rq43 {

// bytesPerPixel 3 (B, G, R) or 4 (B, G, R, ignored); any other value writes nothing.
void ConvertRgbToYuv(const uint8_t* source, YuvFrame& frame, int32_t bytesPerPixel, ptrdiff_t pitch);
void ConvertYuy2ToYuv(ptrdiff_t pitch, const uint8_t* source, YuvFrame& frame);
void ConvertUyvyToYuv(ptrdiff_t pitch, const uint8_t* source, YuvFrame& frame);

// Kernel: per-pixel Y into `y` (stride yStride) and full-resolution U and V into planes of `width`
// bytes per row.
void ConvertRgbToFullResolution(const uint8_t* source, ptrdiff_t pitch, int32_t bytesPerPixel, uint32_t width,
                                uint32_t height, uint8_t* y, ptrdiff_t yStride, uint8_t* fullU, uint8_t* fullV);

}  // namespace rq43
