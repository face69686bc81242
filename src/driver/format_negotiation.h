// Answers to the host's format questions: pure functions of the headers it passes.
#pragma once

#include "platform/vfw.h"

namespace rq43 {

// Bytes a host must provide for a format header the GetFormat operations write.
inline constexpr int32_t kFormatHeaderBytes = 112;

// Width and height multiples of 16 (signed test: a negative height marks a top-down picture).
// Empty or negative-width pictures, and pictures too large for a 32-bit compressed-size bound, are refused.
bool DimensionsOk(const BITMAPINFOHEADER& header);
bool IsUncompressedFormat(const BITMAPINFOHEADER& header);

int32_t CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out);
int32_t CompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out);
int32_t CompressGetSize(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out);
int32_t DecompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out);
int32_t DecompressExQuery(const ICDECOMPRESSEX* record);
int32_t DecompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out);

}  // namespace rq43
