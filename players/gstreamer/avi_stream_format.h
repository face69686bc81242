// The picture size and frame rate of an AVI file's first video stream, read from its stream headers:
// AVI demuxers pass neither on for a fourcc they do not know, and the codec cannot begin without the size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace rq43::players {

struct AviStreamFormat {
    uint32_t compression = 0;  // the stream format's fourcc
    int32_t width = 0, height = 0;
    uint32_t rate = 0, scale = 0;  // frames per second = rate / scale
};

// `peek(offset, size)` gives `size` bytes at `offset` of the file, or nullptr where it has none.
using PeekFunction = std::function<const uint8_t*(uint64_t offset, size_t size)>;

// False when the bytes are no AVI file, hold no video stream, or end before its format.
bool ReadFirstVideoStream(const PeekFunction& peek, AviStreamFormat* format);

}  // namespace rq43::players
