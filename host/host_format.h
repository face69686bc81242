// The uncompressed formats a host exchanges with the codec, and the headers that describe its buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/vfw.h"

namespace rq43 {

enum class HostFormat { Rgb24, Rgb32, Yuy2, Uyvy };

inline constexpr HostFormat kHostFormats[] = {HostFormat::Rgb24, HostFormat::Rgb32, HostFormat::Yuy2,
                                              HostFormat::Uyvy};

const char* HostFormatName(HostFormat format);
std::optional<HostFormat> ParseHostFormat(const std::string& name);
int BytesPerPixel(HostFormat format);
size_t HostPictureBytes(HostFormat format, int width, int height);

// The header of a picture in `format`; a negative height when `topDown` is set. Packed 4:2:2 pictures
// are read top row first whatever the sign; RGB ones bottom row first unless the height is negative.
BITMAPINFOHEADER HostHeader(HostFormat format, int width, int height, bool topDown);

// Headers for buffers that hold their top row first: the compressor's input (the sign only matters to
// RGB) and the decompressor's output.
BITMAPINFOHEADER CompressorInputHeader(HostFormat format, int width, int height);
BITMAPINFOHEADER DecompressorOutputHeader(HostFormat format, int width, int height);

// A black picture in the format (the stand-in before anything has decoded).
std::vector<uint8_t> BlackHostPicture(HostFormat format, int width, int height);

}  // namespace rq43
