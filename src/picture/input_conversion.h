// Conversion of the host's RGB24, RGB32, YUY2 and UYVY pictures into a YuvFrame. `source` points at the
// pixels that become row 0 of the frame (its bottom row) and `pitch` is the signed byte distance to the
// source row that becomes row 1; rows are exactly width * bytes-per-pixel long. Each converter writes
// the whole picture area of all three planes (not the border) and uses the frame's
// conversionScratch, so two conversions into one frame must not overlap. With `workers` the rows are shared
// by the two workers; the picture is the same either way.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/picture_conversion.h"
#include "picture/colour_tables.h"
#include "picture/yuv_frame.h"
#include "platform/worker_pair.h"

namespace rq43 {

// bytesPerPixel 3 (B, G, R) or 4 (B, G, R, ignored); any other value writes nothing.
void ConvertRgbToYuv(const uint8_t* source, YuvFrame& frame, int32_t bytesPerPixel, ptrdiff_t pitch,
                     platform::WorkerPair* workers = nullptr);
void ConvertYuy2ToYuv(ptrdiff_t pitch, const uint8_t* source, YuvFrame& frame,
                      platform::WorkerPair* workers = nullptr);
void ConvertUyvyToYuv(ptrdiff_t pitch, const uint8_t* source, YuvFrame& frame,
                      platform::WorkerPair* workers = nullptr);

// Sizes the frame's conversionScratch for any of the converters above, keeping a large enough one.
void SizeConversionScratch(YuvFrame& frame);

// The plain row kernels behind them (see dsp/picture_conversion.h); the SIMD ones must match them.
void ConvertRgbRowToYuv(const uint8_t* pixels, uint32_t width, int32_t bytesPerPixel,
                        const dsp::RgbInputTables& tables, uint8_t* y, uint8_t* u, uint8_t* v);
void DeinterleaveRow(const uint8_t* in, uint32_t pairs, uint8_t* even, uint8_t* odd);
dsp::RgbInputTables RgbInputTablesOf(const ColourTables& tables);

}  // namespace rq43
