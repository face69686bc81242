// Conversion of a decoded YuvFrame into the host's UYVY, YUY2, RGB24 or RGB32 picture. `destination`
// points at the row that receives frame row 0 (the bottom row) and `pitch` is the signed byte distance
// to the row that receives frame row 1. Chroma is replicated over each 2 x 2 block of pixels. Only the
// picture area of the frame is read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/picture_conversion.h"
#include "picture/colour_tables.h"
#include "picture/yuv_frame.h"

namespace rq43 {

void ConvertYuvToUyvy(uint8_t* destination, const YuvFrame& frame, ptrdiff_t pitch);
void ConvertYuvToYuy2(uint8_t* destination, const YuvFrame& frame, ptrdiff_t pitch);
// bytesPerPixel 3 (B, G, R) or 4 (B, G, R and a fourth byte left as it was); any other value writes
// nothing.
void ConvertYuvToRgb(const YuvFrame& frame, uint8_t* destination, int32_t bytesPerPixel, ptrdiff_t pitch);

// The plain row kernels behind them (see dsp/picture_conversion.h); the SIMD ones must match them.
void PackUyvyRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out);
void PackYuy2Row(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out);
void ConvertYuvRowToRgb(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width,
                        int32_t bytesPerPixel, const dsp::RgbOutputTables& tables, uint8_t* out);
dsp::RgbOutputTables RgbOutputTablesOf(const ColourTables& tables);

}  // namespace rq43
