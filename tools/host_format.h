// The uncompressed formats a host exchanges with the codec, and the buffers it hands over. Every buffer
// the tools make holds its top row first; the headers carry the height sign that says so to the codec.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "picture420.h"
#include "platform/vfw.h"

namespace rq43::cli {

enum class HostFormat { Rgb24, Rgb32, Yuy2, Uyvy };

const char* HostFormatName(HostFormat format);
std::optional<HostFormat> ParseHostFormat(const std::string& name);
int BytesPerPixel(HostFormat format);
size_t HostPictureBytes(HostFormat format, int width, int height);

// Input to the compressor. Packed 4:2:2 input is read from its last row upward whatever the sign, so
// a top-first buffer gets a positive height; top-first RGB needs a negative one.
BITMAPINFOHEADER CompressorInputHeader(HostFormat format, int width, int height);
// Output of the decompressor, top row first in every format (negative height).
BITMAPINFOHEADER DecompressorOutputHeader(HostFormat format, int width, int height);

// The codec's 4:2:0 planes from its packed 4:2:2 output, whose chroma rows come in identical pairs.
void UyvyToPicture420(const uint8_t* uyvy, int width, int height, Picture420& picture);

// A black picture in the format (the stand-in before anything has decoded).
std::vector<uint8_t> BlackHostPicture(HostFormat format, int width, int height);

}  // namespace rq43::cli
