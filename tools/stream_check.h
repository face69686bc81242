// Our own reading of what libavformat hands over from a file: whether a stream is an RQ43 stream the
// codec can take, and what a frame's own header says about it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/vfw.h"

struct AVCodecParameters;

namespace rq43::cli {

// The stream format of an RQ43 stream as the codec wants it; throws Failure naming `path` when the
// stream is something else or has a size the codec cannot have written.
BITMAPINFOHEADER Rq43StreamFormat(const AVCodecParameters& stream, const std::string& path);
// A frame is a key frame when its own well-formed header says so (a file's index may claim any).
bool IsKeyFrame(const uint8_t* data, size_t size);
std::string FourCCText(uint32_t code);

}  // namespace rq43::cli
